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
    g_last_mesh =
        MeshView{in_object,          in_generation,    m.polygon_count(), m.edge_count(),        m.vertex_count(),
                 m.positions.data(), m.offsets.data(), m.indices.data(),  m.corner_edges.data(), m.edges.data()};
    return &g_last_mesh;
}

namespace {

// The mesh of a live component reference with its index in range, else null; the last resolved mesh
// is left as it is.
const Mesh* mesh_of_component(const CRef::Handle& in_handle) {
    const Object* obj = checked(CRef(in_handle));
    return obj ? &static_cast<const MeshObject*>(obj)->mesh : nullptr;
}

}  // namespace

CComponentView edge_vertices(CRef::Handle in_edge) {
    const Mesh* m = in_edge.classID == siEdgeID ? mesh_of_component(in_edge) : nullptr;
    if (!m) return CComponentView{};
    CRef::Handle owner = in_edge;
    owner.classID = siVertexID;
    owner.index = 0;
    return CComponentView{owner, m->edges.data() + 2 * std::size_t{in_edge.index}, 2};
}

MATH::CVector3 vertex_position(CRef::Handle in_vertex) {
    const Mesh* m = in_vertex.classID == siVertexID ? mesh_of_component(in_vertex) : nullptr;
    if (!m) return MATH::CVector3();
    const double* p = m->positions.data() + 3 * std::size_t{in_vertex.index};
    return MATH::CVector3(p[0], p[1], p[2]);
}

CRef view_item(CRef::Handle in_owner, const ULONG* in_indices, LONG in_index) {
    if (!host().store().find(in_owner)) return CRef();
    in_owner.index = in_indices[in_index];
    return CRef(in_owner);
}

}  // namespace XSI::detail
