// The corner test measures of one polygon, shared by describe_polygon, the histogram and the splitter's
// results.
#pragma once

#include <cmath>
#include <optional>
#include <span>

#include "polygon_shape.h"
#include "vec3.h"

namespace torvel::geometry::detail {

struct CornerBend {
    std::optional<double> bend;  // degrees; empty when degenerate
    std::optional<Degenerate> degenerate;
};

// For 4+ corners; NaN bend when a coordinate is not finite.
inline CornerBend measure_corners(std::span<const Vec3> p) {
    const std::size_t n = p.size();
    CornerBend out;
    auto normal_at = [&](std::size_t k) { return corner_normal(p[(k + n - 1) % n], p[k], p[(k + 1) % n]); };
    for (std::size_t k = 0; k < n; ++k) {
        if (is_zero(normal_at(k))) {
            const bool zero_edge = p[k] == p[(k + n - 1) % n] || p[k] == p[(k + 1) % n];
            out.degenerate = Degenerate{static_cast<std::uint32_t>(k),
                                        zero_edge ? DegenerateCause::zero_length_edge : DegenerateCause::collinear};
            return out;
        }
    }
    double worst = 0;
    Vec3 first = normal_at(0);
    Vec3 current = first;
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3 following = k + 1 == n ? first : normal_at(k + 1);
        const double angle = line_pair(current, following).degrees();
        if (!(angle <= worst)) worst = angle;  // keeps a NaN once seen
        if (std::isnan(worst)) break;
        current = following;
    }
    out.bend = worst;
    return out;
}

}  // namespace torvel::geometry::detail
