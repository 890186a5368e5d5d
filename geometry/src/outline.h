// A polygon prepared for splitting: its corners checked (finite, no zero-length edge, no two at one
// place, a non-zero Newell normal), projected along the Newell normal onto a counterclockwise outline
// that must not cross or touch itself, and the test of which diagonals run strictly inside it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "predicates.h"
#include "vec3.h"

namespace torvel::geometry::detail {

class Outline {
public:
    // Checks and projects `points`; on failure returns the reason and leaves the outline unusable.
    std::string prepare(std::span<const Vec3> points, std::uint32_t max_corners);

    std::uint32_t size() const { return n_; }
    const std::vector<Point2>& projected() const { return flat_; }

    // True when the segment between corners a and b (not neighbours) runs strictly inside the outline:
    // it leaves each end into the polygon and meets no other edge or corner. Cached.
    bool usable(std::uint32_t a, std::uint32_t b);

private:
    bool compute_usable(std::uint32_t a, std::uint32_t b) const;
    bool in_cone(std::uint32_t a, std::uint32_t b) const;
    std::uint32_t next(std::uint32_t k) const { return k + 1 == n_ ? 0 : k + 1; }
    std::uint32_t prev(std::uint32_t k) const { return k == 0 ? n_ - 1 : k - 1; }

    std::uint32_t n_ = 0;
    bool convex_ = false;  // strictly convex: every diagonal is usable
    std::vector<Point2> flat_;
    std::vector<std::uint8_t> cache_;  // n*n: 0 unknown, 1 usable, 2 not
};

bool segments_touch(Point2 p1, Point2 p2, Point2 q1, Point2 q2);

}  // namespace torvel::geometry::detail
