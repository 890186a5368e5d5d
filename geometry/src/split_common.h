// What split_polygon, its fallback and triangulate_polygon share: input checks, the test of a piece, and
// the assembly of a result.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "polygon_split.h"
#include "vec3.h"

namespace torvel::geometry::detail {

class Outline;

// "Below the tolerance" for a pair of corner normals, agreeing with LinePair::degrees() < tolerance (and
// so with describe_polygon): s/c is compared with tan(tolerance), and only results within a hair of it
// are settled by the angle itself.
class AngleTest {
public:
    explicit AngleTest(double degrees) : degrees_(degrees) {
        if (degrees > 0 && degrees < 90) {
            tan_ = std::tan(degrees / kDegreesPerRadian);
            tan_squared_ = tan_ * tan_;
        }
    }
    bool below(const LinePair& pair) const {
        if (!(degrees_ > 0)) return false;
        if (tan_ > 0) {
            const double limit = pair.c * tan_;
            if (pair.s < limit * (1 - 1e-12)) return true;
            if (pair.s > limit * (1 + 1e-12)) return false;
        }
        return pair.degrees() < degrees_;
    }
    // Both normals non-zero and below the tolerance as lines.
    bool normals_below(Vec3 n1, Vec3 n2) const { return !is_zero(n1) && !is_zero(n2) && below(line_pair(n1, n2)); }
    // The same answer, first without rescaling or roots: s^2 against tan^2 c^2 decides when they differ
    // by far more than their rounding (1e-12 of |n1|^2 |n2|^2), which is nearly always; products that
    // overflow or underflow never differ so and go the careful way.
    bool normals_below_fast(Vec3 n1, Vec3 n2) const {
        if (tan_squared_ > 0) {
            const Vec3 x = cross(n1, n2);
            const double c = dot(n1, n2), s2 = dot(x, x), limit = tan_squared_ * c * c;
            const double slack = 1e-12 * dot(n1, n1) * dot(n2, n2);
            if (s2 + slack < limit) return true;
            if (s2 - slack > limit) return false;
        }
        return normals_below(n1, n2);
    }
    // The run of 4 corners a, b, c, d may be in a piece: the corner normals at b and c.
    bool window_good(Vec3 a, Vec3 b, Vec3 c, Vec3 d) const {
        return normals_below(corner_normal(a, b, c), corner_normal(b, c, d));
    }

private:
    double degrees_;
    double tan_ = 0;
    double tan_squared_ = 0;
};

// A triangle of three corners on one line is no piece: it has no area.
inline bool has_area(Vec3 a, Vec3 b, Vec3 c) { return !is_zero(corner_normal(a, b, c)); }

// A piece (corner numbers of `points`, in order) is acceptable: 3 corners with an area, or 4+ corners whose
// every run of 4 (cyclically) is good.
bool piece_acceptable(std::span<const Vec3> points, std::span<const std::uint32_t> piece, const AngleTest& angle);

// The most corners the fallback takes: its memory (16 bytes per pair of corners, 0.5 GB here) and its
// corner numbers (16 bits) allow no more.
inline constexpr std::uint32_t kMaxFallbackCorners = 8192;

// The fallback of split_polygon when its search is beyond its budget: a dynamic program over the usable
// diagonals, O(n^3) time and O(n^2) memory, that always ends. The pieces are acceptable, along usable
// diagonals, at most n - 2 of them, in the polygon's cyclic order; empty when the polygon has no split
// at all (no triangulation into triangles with an area).
std::vector<std::vector<std::uint32_t>> merge_split(std::span<const Vec3> points, Outline& outline,
                                                    const AngleTest& angle);

// The corner positions as points, or the reason they cannot be split.
std::optional<std::string> read_split_input(std::span<const double> corner_positions, std::vector<Vec3>& points);

// Fills `result` (ok) from pieces given as corner lists in the polygon's cyclic order: each piece is
// rotated to start at its lowest corner, pieces are sorted, the worst bend and diagonal length measured.
void assemble(std::span<const Vec3> points, std::vector<std::vector<std::uint32_t>> pieces, SplitResult& result);

SplitResult failure(std::string reason);

// The pruning rules of split_polygon's search, each of which keeps the best split: lower bounds on the
// pieces still needed, and the rule against pieces that could be merged. Off, the search is the plain
// dynamic program (slower); the tests compare the two. With `bound_violations` set, sub-polygons are
// searched even where a known bound says they cannot fit, and each one found with fewer pieces than its
// bound claimed is counted there (the tests expect none).
struct SearchRules {
    bool lower_bounds = true;
    bool merge_rule = true;
    std::uint64_t* bound_violations = nullptr;
    // A quad that must be cut is cut along the shorter of its usable diagonals without a search (the
    // search decides ties, and quads it might take whole).
    bool quad_rule = true;
};

SplitResult split_with_rules(std::span<const double> corner_positions, double tolerance_degrees,
                             const SplitOptions& options, const SearchRules& rules);

}  // namespace torvel::geometry::detail
