// Splitting the polygons the filter reports into pieces it does not report: the work `torvel fix` does on a
// file and the script command RepairMesh on an object of the scene. Which polygons are bent is learnt only
// from host::run_filter; the geometry library finds the splits.
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

namespace torvel::app {

struct NotRepaired {
    std::uint32_t index = 0;
    std::string reason;
};

// Why a split's piece count is not proven the fewest.
enum class Unproven : std::uint8_t {
    search_budget,  // the split search reached its budget, and its fallback found more pieces than it ruled out
    triangulated,   // a piece the filter still reported was split into triangles
};

struct NotFewest {
    std::uint32_t index = 0;
    Unproven why = Unproven::search_budget;
};

struct Flattened {
    std::uint32_t index = 0;
    double largest_move = 0;  // of its corners
};

struct MeshRepair {
    // Moving vertices: the reported polygons the filter no longer reports once moved, ascending, and the
    // moves, ascending vertex.
    std::vector<Flattened> flattened;
    std::vector<geometry::VertexMove> moves;
    std::vector<io::PolygonPieces> splits;  // ascending polygon order, each of two or more pieces
    std::vector<NotRepaired> not_repaired;  // ascending
    // The polygons of `splits` whose piece count is not proven the fewest, ascending (two pieces always
    // are: the polygon itself was reported).
    std::vector<NotFewest> not_fewest;

    std::size_t pieces() const;
    // "N polygons flattened, V vertices moved, none by more than D"; empty when none was.
    std::string flattened_summary() const;
    // "N polygons split into M pieces, K not repaired at T°", as fix and RepairMesh report it.
    std::string summary(double tolerance) const;
    // "N of the splits are not proven the fewest pieces (the search's budget was reached)"; empty when
    // every split is.
    std::string not_fewest_summary() const;
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
// still reports is split into triangles. Nothing is placed when no polygon is split. The host is bound,
// the plug-in loaded and its tolerance set to `tolerance`. Throws HostError from run_filter, and what
// `place` throws.
MeshRepair repair_mesh(host::Host& host, const XSI::CRef& object, const MeshView& mesh, double tolerance,
                       const PlaceMesh& place, const FixStrategy& strategy = {});

// `mesh` with each split polygon replaced in place by its pieces, in `objects` (PolygonMesh's, may be
// empty); an object starts at its first polygon's first piece. `splits` as MeshRepair holds them.
PolygonMesh repaired_mesh(const MeshView& mesh, std::span<const PolygonMesh::Object> objects,
                          std::span<const io::PolygonPieces> splits);

}  // namespace torvel::app
