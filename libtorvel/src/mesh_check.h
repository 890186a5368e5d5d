// Meshes handed to the library from outside (check_mesh, fix_mesh, describe) held to what torvel's own
// readers make, so that nothing further down meets arrays it was never given by a reader.
#pragma once

#include "polygon_mesh.h"

namespace torvel {

// Throws UsageError naming the array and its first bad element: positions not x, y, z per vertex (or,
// with `finite`, a coordinate that is not finite, as the readers refuse it); offsets not starting at 0,
// decreasing, a polygon of fewer than 3 corners, not ending at the count of indices; an index past the
// vertices; more than 2^32 - 1 corners or vertices.
void check_mesh_arrays(const MeshView& mesh, bool finite);
// The same, and the objects (ascending starts from 0, polygons in each but a lone one, vertex ranges
// that hold their polygons' indices), source_names and face_lines (empty or one per object / polygon).
void check_mesh_arrays(const PolygonMesh& mesh, bool finite);

}  // namespace torvel
