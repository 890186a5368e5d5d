#include <xsi_geometry.h>

#include "resolve.h"

namespace XSI {

using namespace torvel::host;

namespace {

const Mesh* mesh_of(const CRef& ref) {
    auto* obj = checked_as<MeshObject>(ref);
    return obj ? &obj->mesh : nullptr;
}

CComponentView view(const CRef& owner, siClassID cls, const std::uint32_t* first, std::size_t count) {
    CRef::Handle h = owner.GetHandle();
    h.classID = static_cast<ULONG>(cls);
    h.index = 0;
    return CComponentView{h, first, static_cast<LONG>(count)};
}

// A view's storage belongs to its mesh object: it is read only while that object still exists.
CRef view_item(const CComponentView& v, LONG i) {
    if (i < 0 || i >= v.count || !host().store().find(v.owner)) return CRef();
    CRef::Handle h = v.owner;
    h.index = v.indices[i];
    return CRef(h);
}

}  // namespace

CRef CVertexRefArray::GetItem(LONG in_index) const { return view_item(m_view, in_index); }
CRef CEdgeRefArray::GetItem(LONG in_index) const { return view_item(m_view, in_index); }

Facet::Facet(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siPolygonFaceID) {}

LONG Facet::GetIndex() const { return IsValid() ? static_cast<LONG>(m_ref.GetHandle().index) : -1; }

CVertexRefArray Facet::GetVertices() const {
    const Mesh* m = mesh_of(m_ref);
    if (!m || m_ref.GetHandle().classID != siPolygonFaceID) return CVertexRefArray();
    const std::uint32_t p = m_ref.GetHandle().index;
    return CVertexRefArray(view(m_ref, siVertexID, m->indices.data() + m->offsets[p], m->offsets[p + 1] - m->offsets[p]));
}

PolygonFace::PolygonFace(const CRef& in_ref) : Facet(in_ref, in_ref.GetClassID() == siPolygonFaceID) {}

CEdgeRefArray PolygonFace::GetEdges() const {
    const Mesh* m = mesh_of(m_ref);
    if (!m) return CEdgeRefArray();
    const std::uint32_t p = m_ref.GetHandle().index;
    return CEdgeRefArray(view(m_ref, siEdgeID, m->corner_edges.data() + m->offsets[p], m->offsets[p + 1] - m->offsets[p]));
}

Edge::Edge(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siEdgeID) {}

LONG Edge::GetIndex() const { return IsValid() ? static_cast<LONG>(m_ref.GetHandle().index) : -1; }

CVertexRefArray Edge::GetVertices() const {
    const Mesh* m = mesh_of(m_ref);
    if (!m) return CVertexRefArray();
    return CVertexRefArray(view(m_ref, siVertexID, m->edges.data() + 2 * std::size_t{m_ref.GetHandle().index}, 2));
}

Point::Point(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siVertexID) {}

LONG Point::GetIndex() const { return IsValid() ? static_cast<LONG>(m_ref.GetHandle().index) : -1; }

MATH::CVector3 Point::GetPosition() const {
    const Mesh* m = mesh_of(m_ref);
    if (!m) return MATH::CVector3();
    const double* p = m->positions.data() + 3 * std::size_t{m_ref.GetHandle().index};
    return MATH::CVector3(p[0], p[1], p[2]);
}

Vertex::Vertex(const CRef& in_ref) : Point(in_ref, in_ref.GetClassID() == siVertexID) {}

}  // namespace XSI
