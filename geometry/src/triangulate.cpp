// Triangulation with the shortest total diagonal length, and what split_polygon shares with it.
#include <algorithm>
#include <cmath>
#include <limits>

#include "bend.h"
#include "outline.h"
#include "polygon_split.h"
#include "split_common.h"

namespace torvel::geometry {
namespace detail {

std::optional<std::string> read_split_input(std::span<const double> corner_positions, std::vector<Vec3>& points) {
    if (corner_positions.size() % 3 != 0) {
        return "corner positions: " + std::to_string(corner_positions.size()) + " values, not x, y, z per corner";
    }
    points = to_points(corner_positions);
    return std::nullopt;
}

SplitResult failure(std::string reason) {
    SplitResult result;
    result.reason = std::move(reason);
    return result;
}

void assemble(std::span<const Vec3> points, std::vector<std::vector<std::uint32_t>> pieces, SplitResult& result) {
    const auto n = static_cast<std::uint32_t>(points.size());
    for (auto& piece : pieces) std::rotate(piece.begin(), std::min_element(piece.begin(), piece.end()), piece.end());
    std::sort(pieces.begin(), pieces.end());
    result = SplitResult{};
    result.ok = true;
    double doubled_length = 0;
    std::vector<Vec3> corners;
    for (const auto& piece : pieces) {
        result.corners.insert(result.corners.end(), piece.begin(), piece.end());
        result.offsets.push_back(static_cast<std::uint32_t>(result.corners.size()));
        corners.clear();
        for (std::size_t k = 0; k < piece.size(); ++k) {
            const std::uint32_t a = piece[k], b = piece[(k + 1) % piece.size()];
            corners.push_back(points[a]);
            if ((a + 1) % n != b && (b + 1) % n != a) doubled_length += distance(points[a], points[b]);
        }
        if (piece.size() >= 4) {
            const CornerBend measured = measure_corners(corners);
            if (measured.bend) result.worst_bend = std::max(result.worst_bend, *measured.bend);
        }
    }
    result.diagonal_length = doubled_length / 2;
}

}  // namespace detail

SplitResult triangulate_polygon(std::span<const double> corner_positions, const SplitOptions& options) {
    std::vector<detail::Vec3> points;
    if (auto reason = detail::read_split_input(corner_positions, points)) return detail::failure(*reason);
    detail::Outline outline;
    if (auto reason = outline.prepare(points, options.max_corners); !reason.empty()) {
        return detail::failure(std::move(reason));
    }
    const std::uint32_t n = outline.size();
    // best[i*n + j]: shortest total of diagonals triangulating the corners i..j closed by j -> i, over
    // sides that are polygon edges or usable diagonals; apex[i*n + j] the third corner of the triangle on
    // i-j. Intervals by increasing length, as in the classic optimal triangulation.
    constexpr double kNoWay = std::numeric_limits<double>::infinity();
    std::vector<double> best(static_cast<std::size_t>(n) * n, kNoWay);
    std::vector<std::uint32_t> apex(static_cast<std::size_t>(n) * n, 0);
    auto at = [n](std::uint32_t i, std::uint32_t j) { return static_cast<std::size_t>(i) * n + j; };
    auto side = [&](std::uint32_t i, std::uint32_t j) {
        return j == i + 1 ? 0.0 : detail::distance(points[i], points[j]);
    };
    for (std::uint32_t i = 0; i + 1 < n; ++i) best[at(i, i + 1)] = 0;
    for (std::uint32_t length = 2; length < n; ++length) {
        for (std::uint32_t i = 0; i + length < n; ++i) {
            const std::uint32_t j = i + length;
            if (length != n - 1 && !outline.usable(i, j)) continue;
            double chosen = kNoWay;
            std::uint32_t chosen_apex = 0;
            for (std::uint32_t k = i + 1; k < j; ++k) {
                if (!detail::has_area(points[i], points[k], points[j])) continue;  // three corners on a line
                const double left = best[at(i, k)], right = best[at(k, j)];
                if (left == kNoWay || right == kNoWay) continue;
                const double total = left + right + side(i, k) + side(k, j);
                if (total < chosen) chosen = total, chosen_apex = k;
            }
            best[at(i, j)] = chosen;
            apex[at(i, j)] = chosen_apex;
        }
    }
    if (best[at(0, n - 1)] == kNoWay) return detail::failure("no triangulation found");
    std::vector<std::vector<std::uint32_t>> triangles;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pending{{0, n - 1}};
    while (!pending.empty()) {
        const auto [i, j] = pending.back();
        pending.pop_back();
        if (j == i + 1) continue;
        const std::uint32_t k = apex[at(i, j)];
        triangles.push_back({i, k, j});
        pending.emplace_back(i, k);
        pending.emplace_back(k, j);
    }
    SplitResult result;
    detail::assemble(points, std::move(triangles), result);
    return result;
}

}  // namespace torvel::geometry
