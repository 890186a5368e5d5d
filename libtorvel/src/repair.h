// Splitting the polygons the filter reports into pieces it does not report, or flattening them: the work
// `torvel fix` does on a file and the script command RepairMesh on an object of the scene. Which polygons
// are bent is learnt only from host::run_filter; the geometry library finds the splits and the moves.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <xsi_ref.h>

#include "host.h"
#include "mesh_io.h"
#include "mesh_rewrite.h"
#include "polygon_flatten.h"
#include "polygon_mesh.h"
#include "polygon_shape.h"
#include "torvel/torvel.h"

namespace torvel {

struct MeshRepair {
    // Moving vertices: the reported polygons the filter no longer reports once moved, ascending, and the
    // moves, ascending vertex.
    std::vector<Flattened> flattened;
    std::vector<geometry::VertexMove> moves;
    std::vector<SplitPolygon> splits;       // ascending polygon order, each of two or more pieces
    std::vector<NotRepaired> not_repaired;  // ascending
};

struct FixStrategy {
    // Vertices are moved first, none past the limit; the filter is asked about every polygon with a moved
    // corner, and the moves of each group (polygon_flatten.h) in which it still reports one are undone.
    std::optional<geometry::FlattenLimit> flatten;
    bool split_unflattened = false;  // what was not flattened is split; else it is not repaired
};

// Puts a mesh into the scene as an object the filter can be run on, and returns that object.
using PlaceMesh = std::function<XSI::CRef(PolygonMesh)>;

// `object` holds `mesh`. The filter named kFilterName is asked which of its polygons it reports; each is
// flattened or split at `tolerance` as `strategy` says. The pieces alone (one polygon each, with only the vertices they
// use) are placed through `place` and the filter asked about them: its verdict on a polygon depends only on that
// polygon's own corners and edges, so it is the verdict the pieces get in the repaired mesh. A piece it
// still reports is split into triangles. A split of more than two pieces is marked not fewest when the
// search reached its budget or a piece was triangulated (two pieces always are: the polygon itself was
// reported). Nothing is placed when no polygon is moved or split. The host is bound, the plug-in loaded and its
// tolerance set to `tolerance`. Throws HostError from run_filter, and what `place` throws.
MeshRepair repair_mesh(host::Host& host, const XSI::CRef& object, const MeshView& mesh, double tolerance,
                       const PlaceMesh& place, const FixStrategy& strategy = {});

// `mesh` with each split polygon replaced in place by its pieces, in `objects` (PolygonMesh's, may be
// empty); an object starts at its first polygon's first piece. `splits` as MeshRepair holds them. With
// `source_polygon`, it receives the polygon of `mesh` each polygon of the result comes from.
PolygonMesh repaired_mesh(const MeshView& mesh, std::span<const PolygonMesh::Object> objects,
                          std::span<const SplitPolygon> splits, std::vector<std::uint32_t>* source_polygon = nullptr);

}  // namespace torvel
