#include "outline.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace torvel::geometry::detail {
namespace {

bool within_box(Point2 p, Point2 q, Point2 r) {
    return std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) && std::min(p.y, q.y) <= r.y &&
           r.y <= std::max(p.y, q.y);
}

bool boxes_apart(Point2 p1, Point2 p2, Point2 q1, Point2 q2) {
    return std::max(p1.x, p2.x) < std::min(q1.x, q2.x) || std::max(q1.x, q2.x) < std::min(p1.x, p2.x) ||
           std::max(p1.y, p2.y) < std::min(q1.y, q2.y) || std::max(q1.y, q2.y) < std::min(p1.y, p2.y);
}

std::string edge_name(std::uint32_t k, std::uint32_t n) {
    return std::to_string(k) + "-" + std::to_string(k + 1 == n ? 0 : k + 1);
}

}  // namespace

bool segments_touch(Point2 p1, Point2 p2, Point2 q1, Point2 q2) {
    if (boxes_apart(p1, p2, q1, q2)) return false;
    const int o1 = orient(p1, p2, q1);
    const int o2 = orient(p1, p2, q2);
    const int o3 = orient(q1, q2, p1);
    const int o4 = orient(q1, q2, p2);
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    return (o1 == 0 && within_box(p1, p2, q1)) || (o2 == 0 && within_box(p1, p2, q2)) ||
           (o3 == 0 && within_box(q1, q2, p1)) || (o4 == 0 && within_box(q1, q2, p2));
}

std::string Outline::prepare(std::span<const Vec3> points, std::uint32_t max_corners) {
    n_ = 0;
    const std::size_t count = points.size();
    if (count < 3) return "a polygon needs at least 3 corners (this one has " + std::to_string(count) + ")";
    if (count > max_corners) {
        return "the polygon has " + std::to_string(count) + " corners; at most " + std::to_string(max_corners) +
               " can be split";
    }
    const auto n = static_cast<std::uint32_t>(count);
    for (std::uint32_t k = 0; k < n; ++k) {
        const Vec3 p = points[k];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            return "corner " + std::to_string(k) + " has a coordinate that is not finite";
        }
    }
    for (std::uint32_t k = 0; k < n; ++k) {
        if (points[k] == points[k + 1 == n ? 0 : k + 1]) return "zero-length edge at corner " + std::to_string(k);
    }
    {
        std::vector<std::uint32_t> order(n);
        std::iota(order.begin(), order.end(), 0u);
        auto less = [&](std::uint32_t a, std::uint32_t b) {
            const Vec3 p = points[a], q = points[b];
            if (p.x != q.x) return p.x < q.x;
            if (p.y != q.y) return p.y < q.y;
            if (p.z != q.z) return p.z < q.z;
            return a < b;
        };
        std::sort(order.begin(), order.end(), less);
        for (std::uint32_t k = 0; k + 1 < n; ++k) {
            if (points[order[k]] == points[order[k + 1]]) {
                return "corners " + std::to_string(order[k]) + " and " + std::to_string(order[k + 1]) +
                       " are at the same position";
            }
        }
    }

    // Newell normal about the centroid: the same vector, with less cancellation far from the origin.
    Vec3 centroid;
    for (const Vec3& p : points) centroid = centroid + p;
    centroid = centroid * (1.0 / n);
    Vec3 newell;
    for (std::uint32_t k = 0; k < n; ++k) {
        newell = newell + cross(points[k] - centroid, points[k + 1 == n ? 0 : k + 1] - centroid);
    }
    if (is_zero(newell) || !std::isfinite(norm(newell))) return "the polygon has a zero Newell normal (no area)";
    const Vec3 w = newell * (1.0 / norm(newell));
    // u, v, w right-handed, so the outline comes out counterclockwise.
    Vec3 axis{1, 0, 0};
    if (std::fabs(w.y) <= std::fabs(w.x) && std::fabs(w.y) <= std::fabs(w.z)) axis = {0, 1, 0};
    if (std::fabs(w.z) < std::fabs(w.x) && std::fabs(w.z) < std::fabs(w.y)) axis = {0, 0, 1};
    Vec3 u = cross(w, axis);
    u = u * (1.0 / norm(u));
    const Vec3 v = cross(w, u);
    flat_.resize(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        const Vec3 q = points[k] - centroid;
        flat_[k] = {dot(q, u), dot(q, v)};
    }

    n_ = n;
    const std::string crossing = "the outline crosses itself as seen along its normal (edges ";
    for (std::uint32_t k = 0; k < n; ++k) {
        const Point2 a = flat_[prev(k)], b = flat_[k], c = flat_[next(k)];
        if (b.x == c.x && b.y == c.y) {
            n_ = 0;
            return "the outline crosses itself as seen along its normal (edge " + edge_name(k, n) + " is seen end-on)";
        }
        // Neighbouring edges meet only at their shared corner unless they fold back onto each other.
        if (orient(a, b, c) == 0 && (a.x - b.x) * (c.x - b.x) + (a.y - b.y) * (c.y - b.y) > 0) {
            n_ = 0;
            return crossing + edge_name(prev(k), n) + " and " + edge_name(k, n) + ")";
        }
    }
    for (std::uint32_t e = 0; e < n; ++e) {
        for (std::uint32_t f = e + 2; f < n; ++f) {
            if (e == 0 && f == n - 1) continue;  // neighbours
            if (segments_touch(flat_[e], flat_[next(e)], flat_[f], flat_[next(f)])) {
                n_ = 0;
                return crossing + edge_name(e, n) + " and " + edge_name(f, n) + ")";
            }
        }
    }
    double area2 = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        area2 += flat_[k].x * flat_[next(k)].y - flat_[next(k)].x * flat_[k].y;
    }
    if (!(area2 > 0)) {
        n_ = 0;
        return "the polygon has no area as seen along its normal";
    }

    convex_ = true;
    for (std::uint32_t k = 0; k < n && convex_; ++k) convex_ = orient(flat_[prev(k)], flat_[k], flat_[next(k)]) > 0;
    cache_.assign(convex_ ? 0 : static_cast<std::size_t>(n) * n, 0);
    return {};
}

bool Outline::in_cone(std::uint32_t a, std::uint32_t b) const {
    const Point2 pa = flat_[a], pb = flat_[b], a0 = flat_[prev(a)], a1 = flat_[next(a)];
    if (orient(a0, pa, a1) >= 0) return orient(pa, a1, pb) > 0 && orient(pa, pb, a0) > 0;
    // Reflex: inside unless within the closed outside wedge from the edge back to a0 round to a1.
    return orient(pa, a0, pb) < 0 || orient(pa, pb, a1) < 0;
}

bool Outline::compute_usable(std::uint32_t a, std::uint32_t b) const {
    if (!in_cone(a, b) || !in_cone(b, a)) return false;
    const Point2 pa = flat_[a], pb = flat_[b];
    for (std::uint32_t e = 0; e < n_; ++e) {
        const std::uint32_t f = next(e);
        if (e == a || e == b || f == a || f == b) continue;
        if (segments_touch(pa, pb, flat_[e], flat_[f])) return false;
    }
    return true;
}

bool Outline::usable(std::uint32_t a, std::uint32_t b) {
    if (a == b || next(a) == b || next(b) == a) return false;
    if (convex_) return true;
    const std::size_t key = static_cast<std::size_t>(std::min(a, b)) * n_ + std::max(a, b);
    if (cache_[key] == 0) cache_[key] = compute_usable(a, b) ? 1 : 2;
    return cache_[key] == 1;
}

}  // namespace torvel::geometry::detail
