// Small named polygons for the plug-in tests, and builders that put them into the host's scene.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fresh_host.h"
#include "test_support.h"
#include "units.h"

namespace torvel::test {

using Corner = std::array<double, 3>;
using Polygon = std::vector<Corner>;

inline Polygon unit_square() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }
inline Polygon triangle() { return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}; }
// Flat, with one reflex corner at (1,1,0).
inline Polygon l_hexagon() { return {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}}; }
// Unit square with its last corner raised by `height`: neighbouring corner normals are at most
// atan(height) apart, the largest angle being between the first two.
inline Polygon raised_square(double height) { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, height}}; }
// Its largest bend, about 12.41 degrees, is between one pair of neighbouring corners only; the next
// largest is about 11.31 degrees.
inline Polygon skewed_quad() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.5, 1, 0.1}}; }
// Folded so that neighbouring corner normals are `degrees` apart at most.
inline Polygon folded_square(double degrees) { return raised_square(std::tan(degrees * kDegreesToRadians)); }
// Its first two corner normals are exactly perpendicular (integer arithmetic throughout).
inline Polygon right_angle_quad() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}}; }
// A straight corner at (0.5,0,0): its corner normal is zero.
inline Polygon collinear_pentagon() { return {{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }

// A mesh whose polygons each have vertices of their own.
inline XSI::CRef add_separate_polygons(const std::wstring& name, const std::vector<Polygon>& polygons) {
    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> indices;
    for (const Polygon& polygon : polygons) {
        for (const Corner& c : polygon) {
            indices.push_back(static_cast<std::uint32_t>(positions.size() / 3));
            positions.insert(positions.end(), c.begin(), c.end());
        }
        offsets.push_back(static_cast<std::uint32_t>(indices.size()));
    }
    return test::host().add_mesh(name,
                                 torvel::test::mesh_of(std::move(positions), std::move(offsets), std::move(indices)));
}

// A mesh over shared vertices: each polygon lists indices into `vertices`.
inline XSI::CRef add_indexed_mesh(const std::wstring& name, const Polygon& vertices,
                                  const std::vector<std::vector<std::uint32_t>>& polygons) {
    std::vector<double> positions;
    for (const Corner& c : vertices) positions.insert(positions.end(), c.begin(), c.end());
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> indices;
    for (const auto& polygon : polygons) {
        indices.insert(indices.end(), polygon.begin(), polygon.end());
        offsets.push_back(static_cast<std::uint32_t>(indices.size()));
    }
    return test::host().add_mesh(name,
                                 torvel::test::mesh_of(std::move(positions), std::move(offsets), std::move(indices)));
}

}  // namespace torvel::test
