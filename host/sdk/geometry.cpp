// The slow paths of the inline component accessors in xsi_geometry.h and xsi_ref.h: resolving a mesh
// object that is not the last one resolved.
#include <xsi_geometry.h>

#include "resolve.h"

namespace XSI::detail {

using namespace torvel::host;

const MeshView* find_mesh(ULONG in_object, ULONG in_generation) {
    const Object* obj = host().store().find(CRef::Handle{0, in_object, in_generation, 0});
    if (!obj || !MeshObject::accepts(obj->class_id)) return nullptr;
    const Mesh& m = static_cast<const MeshObject*>(obj)->mesh;
    g_last_mesh = MeshView{in_object,            in_generation,        m.polygon_count(),   m.edge_count(),
                           m.vertex_count(),     m.positions.data(),   m.offsets.data(),    m.indices.data(),
                           m.corner_edges.data(), m.edges.data()};
    return &g_last_mesh;
}

CRef view_item(CRef::Handle in_owner, const ULONG* in_indices, LONG in_index) {
    if (!host().store().find(in_owner)) return CRef();
    in_owner.index = in_indices[in_index];
    return CRef(in_owner);
}

}  // namespace XSI::detail
