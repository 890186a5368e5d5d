// Splitting the polygons the filter reports into pieces it does not report: the work `torvel fix` does on a
// file and the script command RepairMesh on an object of the scene. Which polygons are bent is learnt only
// from host::run_filter; the geometry library finds the splits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <xsi_ref.h>

#include "host.h"
#include "mesh_io.h"
#include "mesh_rewrite.h"

namespace torvel::app {

struct NotRepaired {
    std::uint32_t index = 0;
    std::string reason;
};

struct MeshRepair {
    std::vector<io::PolygonPieces> splits;  // ascending polygon order, each of two or more pieces
    std::vector<NotRepaired> not_repaired;  // ascending
    io::MeshData repaired;                  // positions, polygons and objects of the mesh with the splits applied
    XSI::CRef object;                       // the scene object holding `repaired`

    std::size_t pieces() const;
    // "N polygons split into M pieces, K not repaired at T°", as fix and RepairMesh report it.
    std::string summary(double tolerance) const;
};

// Puts a mesh into the scene (a new object, or in place of one) and returns the object it is in.
using PlaceMesh = std::function<XSI::CRef(const io::MeshData&)>;

// `object` holds `mesh` (positions and polygons). The filter named kFilterName is asked which of its
// polygons it reports; each is split at `tolerance`; the repaired mesh is placed and the filter asked
// again, and a piece it still reports is split into triangles (placed once more). Nothing is placed
// when no polygon is split. The host is bound, the plug-in loaded and its tolerance set to `tolerance`.
// Throws HostError from run_filter, and what `place` throws.
MeshRepair repair_mesh(host::Host& host, const XSI::CRef& object, const io::MeshData& mesh, double tolerance,
                       const PlaceMesh& place);

}  // namespace torvel::app
