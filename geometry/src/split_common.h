// What split_polygon and triangulate_polygon share: input checks and the assembly of a result.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "polygon_split.h"
#include "vec3.h"

namespace torvel::geometry::detail {

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
