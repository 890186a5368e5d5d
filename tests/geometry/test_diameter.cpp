// The diameter behind out_of_plane: the pruned search against brute force, and the grid stand-ins'
// bound for very large polygons.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "diameter.h"
#include "polygon_shape.h"

using torvel::geometry::detail::diameter;
using torvel::geometry::detail::exact_diameter;
using torvel::geometry::detail::Vec3;

namespace {

double brute_force(const std::vector<Vec3>& points) {
    double best2 = 0;
    for (std::size_t a = 0; a < points.size(); ++a) {
        for (std::size_t b = a + 1; b < points.size(); ++b) {
            const double dx = points[a].x - points[b].x, dy = points[a].y - points[b].y, dz = points[a].z - points[b].z;
            best2 = std::max(best2, dx * dx + dy * dy + dz * dz);
        }
    }
    return std::sqrt(best2);
}

std::vector<Vec3> circle(std::size_t n, double wobble) {
    std::vector<Vec3> points;
    for (std::size_t k = 0; k < n; ++k) {
        const double t = 6.283185307179586 * static_cast<double>(k) / static_cast<double>(n);
        points.push_back({std::cos(t), std::sin(t), wobble * std::cos(3 * t)});
    }
    return points;
}

}  // namespace

TEST(Diameter, PrunedSearchEqualsBruteForceBitForBit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(-1, 1);
    // Random clouds, flat strips, repeated points and even circles and spheres, where many pairs come
    // within rounding of the largest distance.
    for (const std::size_t n : {2u, 3u, 31u, 33u, 100u, 1000u}) {
        std::vector<Vec3> cloud(n);
        for (Vec3& p : cloud) p = {unit(rng) * 1e3, unit(rng), unit(rng) * 1e-3};
        EXPECT_EQ(exact_diameter(cloud), brute_force(cloud)) << n;
        cloud.insert(cloud.end(), cloud.begin(), cloud.end());
        EXPECT_EQ(exact_diameter(cloud), brute_force(cloud)) << n;
    }
    for (const std::size_t n : {64u, 1000u, 1001u}) {
        EXPECT_EQ(exact_diameter(circle(n, 0)), brute_force(circle(n, 0))) << n;
        EXPECT_EQ(exact_diameter(circle(n, 0.2)), brute_force(circle(n, 0.2))) << n;
    }
    std::vector<Vec3> sphere(1500);
    for (Vec3& p : sphere) {
        p = {unit(rng), unit(rng), unit(rng)};
        const double r = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
        p = {p.x / r, p.y / r, p.z / r};
    }
    EXPECT_EQ(exact_diameter(sphere), brute_force(sphere));
    EXPECT_EQ(exact_diameter({}), 0.0);
    EXPECT_EQ(exact_diameter(std::vector<Vec3>{{1, 2, 3}}), 0.0);
}

TEST(Diameter, VeryLargePolygonsAreAtMostAThousandthShort) {
    // Above the exact limit: a regular polygon (antipodal corners 2 apart), tilted and moved.
    const std::size_t n = torvel::geometry::kExactDiameterCorners * 2 + 2;
    std::vector<Vec3> points = circle(n, 0);
    for (Vec3& p : points) p = {p.x * 0.6 + 100, p.y, p.x * 0.8 - 50};
    double antipodal = 0;
    for (std::size_t k = 0; k < n / 2; ++k) {
        const Vec3 a = points[k], b = points[k + n / 2];
        antipodal = std::max(
            antipodal, std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z)));
    }
    const double found = diameter(points);
    EXPECT_LE(found, 2.0 + 1e-12);
    EXPECT_GE(found, antipodal * (1 - 1e-3));
}
