// The exact orientation test and the outline a split works on: which inputs are refused, which
// diagonals are usable.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry_test_util.h"
#include "outline.h"
#include "predicates.h"

using namespace torvel::geometry::detail;
using geotest::Corners;

namespace {

std::vector<Vec3> points(const Corners& corners) {
    std::vector<Vec3> out;
    for (const auto& c : corners) out.push_back({c[0], c[1], c[2]});
    return out;
}

std::string prepare(const Corners& corners, std::uint32_t max_corners = 100) {
    Outline outline;
    return outline.prepare(points(corners), max_corners);
}

}  // namespace

TEST(Orient, ExactWhereTheRoundedDeterminantIsWrong) {
    // Points near (0.5, 0.5), a few units in the last place apart, against the line y = x through
    // (12, 12) and (24, 24): the determinant is exactly 12 (dy - dx).
    const double ulp = std::ldexp(1.0, -53);
    for (int i = -8; i <= 8; ++i) {
        for (int k = -8; k <= 8; ++k) {
            const Point2 p{0.5 + i * ulp, 0.5 + k * ulp};
            const int expected = k > i ? 1 : k < i ? -1 : 0;
            ASSERT_EQ(orient(p, {12, 12}, {24, 24}), expected) << i << " " << k;
        }
    }
    // Random points on a fine dyadic grid against exact integer arithmetic (coordinates below 2^29, so
    // the determinant fits 64 bits while its products do not fit a double's 53).
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<std::int64_t> coordinate(-(std::int64_t{1} << 29), std::int64_t{1} << 29);
    for (int round = 0; round < 20000; ++round) {
        std::int64_t q[6];
        for (auto& c : q) c = coordinate(rng);
        if (round % 2 == 0) {  // force near-collinear triples
            q[4] = (q[0] + q[2]) / 2 + (round % 7) - 3;
            q[5] = (q[1] + q[3]) / 2;
        }
        const std::int64_t det = (q[0] - q[4]) * (q[3] - q[5]) - (q[1] - q[5]) * (q[2] - q[4]);
        const double s = std::ldexp(1.0, -20);
        const Point2 a{static_cast<double>(q[0]) * s, static_cast<double>(q[1]) * s};
        const Point2 b{static_cast<double>(q[2]) * s, static_cast<double>(q[3]) * s};
        const Point2 c{static_cast<double>(q[4]) * s, static_cast<double>(q[5]) * s};
        ASSERT_EQ(orient(a, b, c), det > 0 ? 1 : det < 0 ? -1 : 0) << round;
    }
}

TEST(Outline, RefusesWhatCannotBeSplitNamingTheFault) {
    const Corners square = geotest::unit_square();
    EXPECT_EQ(prepare({square[0], square[1]}), "a polygon needs at least 3 corners (this one has 2)");
    EXPECT_EQ(prepare(geotest::regular(9), 8), "the polygon has 9 corners; at most 8 can be split");
    EXPECT_EQ(prepare({square[0], square[1], {1, NAN, 0}, square[3]}), "corner 2 has a coordinate that is not finite");
    EXPECT_EQ(prepare({square[0], square[1], square[2], square[2], square[3]}), "zero-length edge at corner 2");
    EXPECT_EQ(prepare({square[3], square[0], square[1], square[2], square[3]}), "zero-length edge at corner 4");
    EXPECT_EQ(prepare({{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {2, 2, 0}, {0, 2, 0}, {1, 1, 0}}),
              "corners 2 and 5 are at the same position");
    EXPECT_EQ(prepare({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}), "the polygon has a zero Newell normal (no area)");
    // A bow tie: its Newell normal is not zero, but its outline crosses.
    EXPECT_EQ(prepare({{0, 0, 0}, {3, 0, 0}, {0, 1, 0}, {2, 2, 0}}),
              "the outline crosses itself as seen along its normal (edges 1-2 and 3-0)");
    // Edges that fold back on each other, and a corner touching a far edge.
    EXPECT_EQ(prepare({{0, 0, 0}, {3, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}}),
              "the outline crosses itself as seen along its normal (edges 0-1 and 1-2)");
    EXPECT_EQ(prepare({{0, 0, 0}, {4, 0, 0}, {4, 2, 0}, {2, 0, 0}, {0, 2, 0}}),
              "the outline crosses itself as seen along its normal (edges 0-1 and 2-3)");
    EXPECT_EQ(prepare(geotest::l_hexagon()), "");
    EXPECT_EQ(prepare(geotest::collinear_pentagon()), "");
}

TEST(Outline, UsableDiagonalsRunStrictlyInside) {
    // L hexagon with its reflex corner 3 at (1,1): the diagonals from corner 3 and those along the
    // L's arms are inside; 2-4 crosses the notch outside; 1-5 passes through corner 3.
    Outline l_shape;
    ASSERT_EQ(l_shape.prepare(points(geotest::l_hexagon()), 100), "");
    EXPECT_TRUE(l_shape.usable(0, 3));
    EXPECT_TRUE(l_shape.usable(3, 1));
    EXPECT_TRUE(l_shape.usable(3, 5));
    EXPECT_FALSE(l_shape.usable(2, 4));  // outside, across the notch
    EXPECT_FALSE(l_shape.usable(1, 5));  // through corner 3
    EXPECT_TRUE(l_shape.usable(0, 2));
    EXPECT_TRUE(l_shape.usable(0, 4));
    EXPECT_FALSE(l_shape.usable(0, 1));  // an edge, not a diagonal
    // The straight corner 1 of the pentagon: 0-2 would run along two edges through it.
    Outline pentagon;
    ASSERT_EQ(pentagon.prepare(points(geotest::collinear_pentagon()), 100), "");
    EXPECT_FALSE(pentagon.usable(0, 2));
    EXPECT_TRUE(pentagon.usable(1, 3));
    EXPECT_TRUE(pentagon.usable(1, 4));
    EXPECT_TRUE(pentagon.usable(2, 4));
    // Listed clockwise the outline is the same, seen from the other side.
    Corners clockwise = geotest::l_hexagon();
    std::reverse(clockwise.begin(), clockwise.end());  // corner k is the L's corner 5 - k
    Outline reversed;
    ASSERT_EQ(reversed.prepare(points(clockwise), 100), "");
    EXPECT_FALSE(reversed.usable(3, 1));  // the L's 2-4
    EXPECT_TRUE(reversed.usable(2, 5));   // the L's 3-0
}

TEST(Outline, SegmentsTouchIncludesEndsAndOverlaps) {
    EXPECT_TRUE(segments_touch({0, 0}, {2, 2}, {0, 2}, {2, 0}));
    EXPECT_TRUE(segments_touch({0, 0}, {2, 0}, {1, 0}, {1, 5}));  // an end on the other's middle
    EXPECT_TRUE(segments_touch({0, 0}, {2, 0}, {1, 0}, {3, 0}));  // overlapping along a line
    EXPECT_FALSE(segments_touch({0, 0}, {2, 0}, {3, 0}, {4, 0}));
    EXPECT_FALSE(segments_touch({0, 0}, {2, 0}, {1, 1e-300}, {1, 1}));
}
