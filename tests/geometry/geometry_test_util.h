// Polygons and helpers shared by the geometry tests.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "polygon_split.h"

namespace geotest {

using Corner = std::array<double, 3>;
using Corners = std::vector<Corner>;
using Pieces = std::vector<std::vector<std::uint32_t>>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180;

inline std::vector<double> flat(const Corners& corners) {
    std::vector<double> xyz;
    for (const Corner& c : corners) xyz.insert(xyz.end(), c.begin(), c.end());
    return xyz;
}

inline Corners unit_square() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }
// Unit square with corner 2 raised by h.
inline Corners raised_square(double h) { return {{0, 0, 0}, {1, 0, 0}, {1, 1, h}, {0, 1, 0}}; }
// Corners 1 and 3 raised by h: a saddle.
inline Corners twisted_quad(double h) { return {{0, 0, 0}, {1, 0, h}, {1, 1, 0}, {0, 1, h}}; }
// Corner 1 lies on the straight edge from corner 0 to corner 2.
inline Corners collinear_pentagon() { return {{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }
// Flat, with a reflex corner at (1, 1).
inline Corners l_hexagon() { return {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}}; }

// Corners k of a regular polygon of `n` corners, radius 1, starting at angle `phase`.
inline Corners regular(std::size_t n, double phase = 0) {
    Corners out;
    for (std::size_t k = 0; k < n; ++k) {
        const double t = 2 * kPi * static_cast<double>(k) / static_cast<double>(n) + phase;
        out.push_back({std::cos(t), std::sin(t), 0});
    }
    return out;
}

// Folds the corners with y > line_y up about the line y = line_y (parallel to x) by `degrees`.
inline Corners fold_above(Corners corners, double line_y, double degrees) {
    for (Corner& c : corners) {
        if (c[1] > line_y) {
            const double d = c[1] - line_y;
            c[1] = line_y + d * std::cos(degrees * kDegree);
            c[2] += d * std::sin(degrees * kDegree);
        }
    }
    return corners;
}

inline Pieces pieces_of(const torvel::geometry::SplitResult& result) {
    Pieces out;
    for (std::size_t k = 0; k < result.piece_count(); ++k) {
        const auto piece = result.piece(k);
        out.emplace_back(piece.begin(), piece.end());
    }
    return out;
}

inline Corners pick(const Corners& corners, const std::vector<std::uint32_t>& indices) {
    Corners out;
    for (const std::uint32_t k : indices) out.push_back(corners[k]);
    return out;
}

}  // namespace geotest
