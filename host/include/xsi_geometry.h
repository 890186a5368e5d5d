// Components of a polygon mesh. PolygonFace (a Facet), Edge and Vertex (a Point) are made from
// component references; CEdgeRefArray and CVertexRefArray are views over the mesh's own storage:
// handing one out never allocates.
#pragma once

#include <cstddef>

#include "xsi_siobject.h"
#include "xsi_vector3.h"

namespace XSI {

class SICPPSDKIMPEXP CVertexRefArray {
public:
    CVertexRefArray() = default;
    explicit CVertexRefArray(const detail::ComponentRun& in_view) : m_view(in_view) {}
    LONG GetCount() const { return m_view.count; }
    // An empty reference for an index out of range.
    CRef GetItem(LONG in_index) const { return CRef(detail::run_item(m_view, in_index)); }
    CRef operator[](LONG in_index) const { return GetItem(in_index); }

private:
    detail::ComponentRun m_view;
};

class SICPPSDKIMPEXP CEdgeRefArray {
public:
    CEdgeRefArray() = default;
    explicit CEdgeRefArray(const detail::ComponentRun& in_view) : m_view(in_view) {}
    LONG GetCount() const { return m_view.count; }
    CRef GetItem(LONG in_index) const { return CRef(detail::run_item(m_view, in_index)); }
    CRef operator[](LONG in_index) const { return GetItem(in_index); }

private:
    detail::ComponentRun m_view;
};

// The accessors below are inline: the filter calls them several times per edge.
class SICPPSDKIMPEXP Facet : public SIObject {
public:
    Facet() = default;
    Facet(const CRef& in_ref) : SIObject(in_ref, detail::component_mesh(in_ref.GetHandle(), siPolygonFaceID) != nullptr) {}
    // The component's index in its mesh; -1 when invalid.
    LONG GetIndex() const { return IsValid() ? static_cast<LONG>(m_ref.GetHandle().index) : -1; }
    CVertexRefArray GetVertices() const {
        const detail::MeshView* m = detail::wrapped_mesh(m_ref.GetHandle(), siPolygonFaceID);
        if (!m) return CVertexRefArray();
        const ULONG p = m_ref.GetHandle().index;
        return CVertexRefArray(
            detail::component_run(m_ref.GetHandle(), siVertexID, m->indices + m->offsets[p], m->offsets[p + 1] - m->offsets[p]));
    }

protected:
    Facet(const CRef& in_ref, bool in_accepted) : SIObject(in_ref, in_accepted) {}
};

class SICPPSDKIMPEXP PolygonFace : public Facet {
public:
    PolygonFace() = default;
    PolygonFace(const CRef& in_ref) : Facet(in_ref, detail::component_mesh(in_ref.GetHandle(), siPolygonFaceID) != nullptr) {}
    // The polygon's edges in order around it: edge i joins vertex i and vertex i+1 (the last one
    // joins the last vertex and the first).
    CEdgeRefArray GetEdges() const {
        const detail::MeshView* m = detail::wrapped_mesh(m_ref.GetHandle(), siPolygonFaceID);
        if (!m) return CEdgeRefArray();
        const ULONG p = m_ref.GetHandle().index;
        return CEdgeRefArray(detail::component_run(m_ref.GetHandle(), siEdgeID, m->corner_edges + m->offsets[p],
                                                    m->offsets[p + 1] - m->offsets[p]));
    }
};

class SICPPSDKIMPEXP Edge : public SIObject {
public:
    Edge() = default;
    Edge(const CRef& in_ref) : SIObject(in_ref, detail::component_mesh(in_ref.GetHandle(), siEdgeID) != nullptr) {}
    LONG GetIndex() const { return IsValid() ? static_cast<LONG>(m_ref.GetHandle().index) : -1; }
    // The edge's two vertices, in the order of the polygon that first created the edge.
    CVertexRefArray GetVertices() const {
        const detail::MeshView* m = detail::wrapped_mesh(m_ref.GetHandle(), siEdgeID);
        if (!m) return CVertexRefArray();
        return CVertexRefArray(
            detail::component_run(m_ref.GetHandle(), siVertexID, m->edges + 2 * std::size_t{m_ref.GetHandle().index}, 2));
    }
};

class SICPPSDKIMPEXP Point : public SIObject {
public:
    Point() = default;
    Point(const CRef& in_ref) : SIObject(in_ref, detail::component_mesh(in_ref.GetHandle(), siVertexID) != nullptr) {}
    LONG GetIndex() const { return IsValid() ? static_cast<LONG>(m_ref.GetHandle().index) : -1; }
    // The zero vector when invalid.
    MATH::CVector3 GetPosition() const {
        const detail::MeshView* m = detail::wrapped_mesh(m_ref.GetHandle(), siVertexID);
        if (!m) return MATH::CVector3();
        const double* p = m->positions + 3 * std::size_t{m_ref.GetHandle().index};
        return MATH::CVector3(p[0], p[1], p[2]);
    }

protected:
    Point(const CRef& in_ref, bool in_accepted) : SIObject(in_ref, in_accepted) {}
};

class SICPPSDKIMPEXP Vertex : public Point {
public:
    Vertex() = default;
    Vertex(const CRef& in_ref) : Point(in_ref, detail::component_mesh(in_ref.GetHandle(), siVertexID) != nullptr) {}
};

}  // namespace XSI
