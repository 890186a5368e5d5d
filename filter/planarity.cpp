#include "planarity.h"

using namespace XSI;
using XSI::MATH::CVector3;

bool Vn_TorvelFilter_set_vec(const CRef& in_edge, CVector3& out_vec) {
    Edge edge(in_edge);
    CVertexRefArray ends = edge.GetVertices();
    const CVector3 p0 = Vertex(ends.GetItem(0)).GetPosition();
    const CVector3 p1 = Vertex(ends.GetItem(1)).GetPosition();
    if (p0.Equals(p1)) {
        return false;
    }
    out_vec.Sub(p1, p0);
    return true;
}

bool Vn_TorvelFilter_check_nontorvel(PolygonFace in_poly, double in_def) {
    {
        CVertexRefArray vertices = in_poly.GetVertices();
        if (vertices.GetCount() <= 3) {
            return false;
        }
    }

    CVector3 u, v, w;  // edge slots; a degenerate edge leaves its slot holding what it held before
    CVector3 n1, n2;
    CEdgeRefArray edges = in_poly.GetEdges();
    const LONG n = edges.GetCount();
    if (n < 1) {
        return false;
    }

    // Squared quantities throughout: |cos| <= |in_def| becomes d^2 <= t2 |N1|^2 |N2|^2, which needs no
    // square root or division and ignores the sign of each normal (reflex corners, edge directions).
    const double t2 = in_def * in_def;
    for (LONG i = 0; i < n; ++i) {
        const LONG j = (i + 1) % n;
        const LONG k = (i + 2) % n;
        // The fetch results are deliberately not consulted: a degenerate edge keeps the previous
        // content of its slot, which yields a zero normal for this pair or an earlier one.
        Vn_TorvelFilter_set_vec(edges.GetItem(i), u);
        Vn_TorvelFilter_set_vec(edges.GetItem(j), v);
        Vn_TorvelFilter_set_vec(edges.GetItem(k), w);

        n1.Cross(u, v);
        n2.Cross(v, w);
        const double d = n1.Dot(n2);
        const double dd = d * d;
        const double l1 = n1.GetLengthSquared();
        const double l2 = n2.GetLengthSquared();
        const double p = (l1 * t2) * l2;
        // Written as D <= P so that an unordered (NaN) comparison counts as passing.
        if (dd <= p) {
            return true;
        }
    }
    return false;
}
