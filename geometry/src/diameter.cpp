#include "diameter.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "polygon_shape.h"

namespace torvel::geometry::detail {
namespace {

// Squared distance, written the same way as box_far2 so that a box bound is never below the distance it
// bounds (rounding is monotonic).
double dist2(Vec3 a, Vec3 b) {
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

struct Box {
    Vec3 lo, hi;
};

double far_axis(double a, double lo, double hi) { return std::max(std::fabs(a - lo), std::fabs(a - hi)); }

double box_far2(Vec3 a, const Box& b) {
    const double dx = far_axis(a.x, b.lo.x, b.hi.x);
    const double dy = far_axis(a.y, b.lo.y, b.hi.y);
    const double dz = far_axis(a.z, b.lo.z, b.hi.z);
    return dx * dx + dy * dy + dz * dz;
}

constexpr std::uint32_t kLeafSize = 8;

struct Node {
    Box box;
    std::uint32_t begin = 0, end = 0;
    std::uint32_t left = 0, right = 0;  // 0: leaf (the root is never a child)
};

class KdTree {
public:
    explicit KdTree(std::span<const Vec3> points) : points_(points), order_(points.size()) {
        std::iota(order_.begin(), order_.end(), 0u);
        nodes_.reserve(2 * points.size() / kLeafSize + 2);
        build(0, static_cast<std::uint32_t>(points.size()));
    }

    // Raises best2 to the largest squared distance from a to any point, where that exceeds best2.
    void raise_farthest(Vec3 a, double& best2) {
        stack_.clear();
        stack_.push_back(0);
        while (!stack_.empty()) {
            const Node& node = nodes_[stack_.back()];
            stack_.pop_back();
            if (box_far2(a, node.box) <= best2) continue;
            if (node.left == 0) {
                for (std::uint32_t k = node.begin; k < node.end; ++k)
                    best2 = std::max(best2, dist2(a, points_[order_[k]]));
                continue;
            }
            // The child with the farther bound is searched first: it raises best2 soonest.
            const bool left_first = box_far2(a, nodes_[node.left].box) >= box_far2(a, nodes_[node.right].box);
            stack_.push_back(left_first ? node.right : node.left);
            stack_.push_back(left_first ? node.left : node.right);
        }
    }

private:
    std::uint32_t build(std::uint32_t begin, std::uint32_t end) {
        const auto index = static_cast<std::uint32_t>(nodes_.size());
        nodes_.emplace_back();
        Box box{points_[order_[begin]], points_[order_[begin]]};
        for (std::uint32_t k = begin; k < end; ++k) {
            const Vec3 p = points_[order_[k]];
            box.lo = {std::min(box.lo.x, p.x), std::min(box.lo.y, p.y), std::min(box.lo.z, p.z)};
            box.hi = {std::max(box.hi.x, p.x), std::max(box.hi.y, p.y), std::max(box.hi.z, p.z)};
        }
        nodes_[index].box = box;
        nodes_[index].begin = begin;
        nodes_[index].end = end;
        if (end - begin <= kLeafSize) return index;
        const Vec3 extent = box.hi - box.lo;
        int axis = 0;
        if (extent.y > extent.x && extent.y >= extent.z) axis = 1;
        if (extent.z > extent.x && extent.z > extent.y) axis = 2;
        auto coordinate = [&](std::uint32_t i) {
            const Vec3 p = points_[i];
            return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
        };
        const std::uint32_t middle = begin + (end - begin) / 2;
        std::nth_element(order_.begin() + begin, order_.begin() + middle, order_.begin() + end,
                         [&](std::uint32_t a, std::uint32_t b) { return coordinate(a) < coordinate(b); });
        const std::uint32_t left = build(begin, middle);
        const std::uint32_t right = build(middle, end);
        nodes_[index].left = left;
        nodes_[index].right = right;
        return index;
    }

    std::span<const Vec3> points_;
    std::vector<std::uint32_t> order_;
    std::vector<Node> nodes_;
    std::vector<std::uint32_t> stack_;
};

// A lower bound from a few rounds of "farthest point from the last farthest point".
double double_normal2(std::span<const Vec3> points) {
    std::size_t from = 0;
    double best2 = 0;
    for (int round = 0; round < 4; ++round) {
        std::size_t far = from;
        double far2 = 0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const double d2 = dist2(points[from], points[k]);
            if (d2 > far2) far2 = d2, far = k;
        }
        if (far2 <= best2) break;
        best2 = far2;
        from = far;
    }
    return best2;
}

}  // namespace

double exact_diameter(std::span<const Vec3> points) {
    if (points.size() < 2) return 0;
    double best2 = 0;
    if (points.size() <= 4 * kLeafSize) {
        for (std::size_t a = 0; a < points.size(); ++a) {
            for (std::size_t b = a + 1; b < points.size(); ++b) best2 = std::max(best2, dist2(points[a], points[b]));
        }
        return std::sqrt(best2);
    }
    best2 = double_normal2(points);
    KdTree tree(points);
    for (const Vec3& a : points) tree.raise_farthest(a, best2);
    return std::sqrt(best2);
}

double diameter(std::span<const Vec3> points) {
    if (points.size() <= kExactDiameterCorners) return exact_diameter(points);
    // One point per grid cell of side delta: a point's stand-in is within delta*sqrt(3) of it, so the
    // stand-ins' diameter is at most 2*sqrt(3)*delta short, which delta makes 1e-3 of a lower bound.
    const double lower = std::sqrt(double_normal2(points));
    if (!(lower > 0) || !std::isfinite(lower)) return exact_diameter(points);
    const double delta = 1e-3 * lower / (2.0 * std::sqrt(3.0));
    Vec3 lo = points[0];
    for (const Vec3& p : points) lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    // The extent is at most twice the lower bound, so cell numbers stay below 2^17 per axis.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> cells(points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        const Vec3 q = points[k] - lo;
        auto cell = [&](double c) { return static_cast<std::uint64_t>(std::floor(c / delta)) & 0x1FFFFF; };
        cells[k] = {(cell(q.x) << 42) | (cell(q.y) << 21) | cell(q.z), static_cast<std::uint32_t>(k)};
    }
    std::sort(cells.begin(), cells.end());
    std::vector<Vec3> stand_ins;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        if (k == 0 || cells[k].first != cells[k - 1].first) stand_ins.push_back(points[cells[k].second]);
    }
    return exact_diameter(stand_ins);
}

}  // namespace torvel::geometry::detail
