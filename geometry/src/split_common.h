// What split_polygon and triangulate_polygon share: input checks and the assembly of a result.
#pragma once

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

}  // namespace torvel::geometry::detail
