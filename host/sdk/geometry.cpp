// The slow paths of the inline component accessors in xsi_geometry.h and xsi_ref.h: resolving a mesh
// object that is not the last one resolved.
#include <xsi_geometry.h>

#include "resolve.h"

namespace XSI::detail {

using namespace torvel::host;

const MeshView* find_mesh(const CRef::Handle& in_handle) {
    const Object* obj = host().store().find(in_handle);
    if (!obj || !MeshObject::accepts(obj->class_id)) return nullptr;
    const Mesh& m = static_cast<const MeshObject*>(obj)->mesh;
    g_last_mesh = MeshView{in_handle.object,     in_handle.generation, m.polygon_count(),   m.edge_count(),
                           m.vertex_count(),     m.positions.data(),   m.offsets.data(),    m.indices.data(),
                           m.corner_edges.data(), m.edges.data()};
    return &g_last_mesh;
}

CRef view_item(const CComponentView& in_view, LONG in_index) {
    if (in_index < 0 || in_index >= in_view.count || !host().store().find(in_view.owner)) return CRef();
    CRef::Handle h = in_view.owner;
    h.index = in_view.indices[in_index];
    return CRef(h);
}

}  // namespace XSI::detail
