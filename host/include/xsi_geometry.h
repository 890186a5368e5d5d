// Components of a polygon mesh. PolygonFace (a Facet), Edge and Vertex (a Point) are made from
// component references; CEdgeRefArray and CVertexRefArray are views over the mesh's own storage:
// handing one out never allocates.
#pragma once

#include "xsi_siobject.h"
#include "xsi_vector3.h"

namespace XSI {

// Host side: a run of component indices of one mesh object.
struct CComponentView {
    CRef::Handle owner;  // classID = the components' class, object/generation = the mesh object
    const ULONG* indices = nullptr;
    LONG count = 0;
};

class SICPPSDKIMPEXP CVertexRefArray {
public:
    CVertexRefArray() = default;
    explicit CVertexRefArray(const CComponentView& in_view) : m_view(in_view) {}
    LONG GetCount() const { return m_view.count; }
    // An empty reference for an index out of range.
    CRef GetItem(LONG in_index) const;
    CRef operator[](LONG in_index) const { return GetItem(in_index); }

private:
    CComponentView m_view;
};

class SICPPSDKIMPEXP CEdgeRefArray {
public:
    CEdgeRefArray() = default;
    explicit CEdgeRefArray(const CComponentView& in_view) : m_view(in_view) {}
    LONG GetCount() const { return m_view.count; }
    CRef GetItem(LONG in_index) const;
    CRef operator[](LONG in_index) const { return GetItem(in_index); }

private:
    CComponentView m_view;
};

class SICPPSDKIMPEXP Facet : public SIObject {
public:
    Facet() = default;
    Facet(const CRef& in_ref);
    // The component's index in its mesh; -1 when invalid.
    LONG GetIndex() const;
    CVertexRefArray GetVertices() const;

protected:
    Facet(const CRef& in_ref, bool in_accepted) : SIObject(in_ref, in_accepted) {}
};

class SICPPSDKIMPEXP PolygonFace : public Facet {
public:
    PolygonFace() = default;
    PolygonFace(const CRef& in_ref);
    // The polygon's edges in order around it: edge i joins vertex i and vertex i+1 (the last one
    // joins the last vertex and the first).
    CEdgeRefArray GetEdges() const;
};

class SICPPSDKIMPEXP Edge : public SIObject {
public:
    Edge() = default;
    Edge(const CRef& in_ref);
    LONG GetIndex() const;
    // The edge's two vertices, in the order of the polygon that first created the edge.
    CVertexRefArray GetVertices() const;
};

class SICPPSDKIMPEXP Point : public SIObject {
public:
    Point() = default;
    Point(const CRef& in_ref);
    LONG GetIndex() const;
    // The zero vector when invalid.
    MATH::CVector3 GetPosition() const;

protected:
    Point(const CRef& in_ref, bool in_accepted) : SIObject(in_ref, in_accepted) {}
};

class SICPPSDKIMPEXP Vertex : public Point {
public:
    Vertex() = default;
    Vertex(const CRef& in_ref);
};

}  // namespace XSI
