// Small vector helpers and the corner measures shared by describing and splitting, so that a piece the
// splitter accepts has exactly the bend describe_polygon reports for it.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace torvel::geometry::detail {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline bool operator==(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double norm(Vec3 a) { return std::sqrt(dot(a, a)); }
inline bool is_zero(Vec3 a) { return a.x == 0 && a.y == 0 && a.z == 0; }
inline double distance(Vec3 a, Vec3 b) { return norm(a - b); }

inline constexpr double kDegreesPerRadian = 57.29577951308232;

// The corner normal at b between its neighbours a (before) and c (after).
inline Vec3 corner_normal(Vec3 a, Vec3 b, Vec3 c) { return cross(b - a, c - b); }

// Scales by a power of two so that the largest component lies in [0.5, 1): exact, and it keeps products
// of products (|n1 x n2| is quartic in edge lengths) from overflowing or underflowing.
inline Vec3 rescaled(Vec3 a) {
    const double m = std::max(std::fabs(a.x), std::max(std::fabs(a.y), std::fabs(a.z)));
    if (m == 0 || !std::isfinite(m)) return a;
    // The power of two built from m's exponent bits (hot path: no frexp/ldexp calls); the library
    // calls only where that power would not be a normal number.
    const auto biased = static_cast<int>((std::bit_cast<std::uint64_t>(m) >> 52) & 0x7FF);
    if (biased == 0 || biased >= 2044) {
        int e = 0;
        std::frexp(m, &e);
        return {std::ldexp(a.x, -e), std::ldexp(a.y, -e), std::ldexp(a.z, -e)};
    }
    const double scale = std::bit_cast<double>(static_cast<std::uint64_t>(2045 - biased) << 52);
    return a * scale;
}

// Two normals compared as lines: s = |n1 x n2|, c = |n1 . n2| of the rescaled normals; the angle between
// them is atan2(s, c).
struct LinePair {
    double s = 0, c = 0;
    double degrees() const { return std::atan2(s, c) * kDegreesPerRadian; }
};

inline LinePair line_pair(Vec3 n1, Vec3 n2) {
    const Vec3 a = rescaled(n1);
    const Vec3 b = rescaled(n2);
    return {norm(cross(a, b)), std::fabs(dot(a, b))};
}

// x, y, z triples as vectors; the caller has checked the size is a multiple of 3.
inline std::vector<Vec3> to_points(std::span<const double> xyz) {
    std::vector<Vec3> points(xyz.size() / 3);
    for (std::size_t k = 0; k < points.size(); ++k) points[k] = {xyz[3 * k], xyz[3 * k + 1], xyz[3 * k + 2]};
    return points;
}

}  // namespace torvel::geometry::detail
