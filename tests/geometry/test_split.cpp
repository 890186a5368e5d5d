// split_polygon and triangulate_polygon on polygons whose best split is known by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <random>

#include "geometry_test_util.h"
#include "polygon_shape.h"
#include "polygon_split.h"

using namespace torvel::geometry;
using namespace geotest;

namespace {

SplitResult split(const Corners& corners, double tolerance, const SplitOptions& options = {}) {
    return split_polygon(flat(corners), tolerance, options);
}

// Rotates the corners on the left of the line from a to b (in the xy plane) about that line.
Corners fold_along(Corners corners, Corner a, Corner b, double degrees) {
    const double dx = b[0] - a[0], dy = b[1] - a[1], length = std::hypot(dx, dy);
    const double ux = dx / length, uy = dy / length;
    for (Corner& c : corners) {
        const double side = ux * (c[1] - a[1]) - uy * (c[0] - a[0]);  // distance left of the line
        if (side <= 1e-12) continue;
        const double along = ux * (c[0] - a[0]) + uy * (c[1] - a[1]);
        const double nx = -uy, ny = ux;
        c = {a[0] + ux * along + nx * side * std::cos(degrees * kDegree),
             a[1] + uy * along + ny * side * std::cos(degrees * kDegree), c[2] + side * std::sin(degrees * kDegree)};
    }
    return corners;
}

std::vector<std::uint32_t> range(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t k = first; k <= last; ++k) out.push_back(k);
    return out;
}

}  // namespace

TEST(Split, BentQuadBecomesTwoTrianglesAlongTheShorterDiagonal) {
    // Triangles have no bend, so the tie goes to the shorter diagonal: 0-2 when corner 3 is raised,
    // 1-3 when corner 2 is.
    const SplitResult low = split({{0, 0, 0}, {3, 0, 0}, {3, 1, 0}, {0, 1, 0.5}}, 10);
    ASSERT_TRUE(low.ok) << low.reason;
    EXPECT_EQ(pieces_of(low), (Pieces{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_NEAR(low.diagonal_length, std::sqrt(10.0), 1e-12);
    EXPECT_EQ(low.worst_bend, 0.0);
    const SplitResult high = split({{0, 0, 0}, {3, 0, 0}, {3, 1, 0.5}, {0, 1, 0}}, 10);
    EXPECT_EQ(pieces_of(high), (Pieces{{0, 1, 3}, {1, 2, 3}}));
}

TEST(Split, ConcaveQuadUsesTheDiagonalInsideEvenWhenLonger) {
    // Dart with its reflex corner 3 raised: 0-2 (length 2) runs outside, 1-3 (about 3) inside.
    const SplitResult dart = split({{0, 0, 0}, {4, 1, 0}, {0, 2, 0}, {1, 1, 0.3}}, 5);
    ASSERT_TRUE(dart.ok) << dart.reason;
    EXPECT_EQ(pieces_of(dart), (Pieces{{0, 1, 3}, {1, 2, 3}}));
}

TEST(Split, FoldedPolygonsSplitAlongTheirFolds) {
    // A hexagon folded by 30 degrees along its diagonal 0-3: two flat quads, not four triangles.
    const SplitResult hexagon = split(fold_above(regular(6), 0, 30), 10);
    ASSERT_TRUE(hexagon.ok) << hexagon.reason;
    EXPECT_EQ(pieces_of(hexagon), (Pieces{{0, 1, 2, 3}, {0, 3, 4, 5}}));
    EXPECT_NEAR(hexagon.diagonal_length, 2.0, 1e-12);
    EXPECT_LT(hexagon.worst_bend, 1e-9);
    // A 12-gon folded up along the chord 1-5 and down along 7-11: three flat pieces.
    Corners twelve = fold_along(regular(12), regular(12)[5], regular(12)[1], 40);
    twelve = fold_along(twelve, twelve[11], twelve[7], -35);
    const SplitResult folded = split(twelve, 10);
    ASSERT_TRUE(folded.ok) << folded.reason;
    EXPECT_EQ(pieces_of(folded), (Pieces{{0, 1, 5, 6, 7, 11}, {1, 2, 3, 4, 5}, {7, 8, 9, 10, 11}}));
    EXPECT_LT(folded.worst_bend, 1e-9);
    // Where the folds meet the outline, neighbouring corner normals turn by some 61 degrees; at 70 the
    // polygon is acceptable as it stands.
    const SplitResult loose = split(twelve, 70);
    EXPECT_EQ(pieces_of(loose), (Pieces{range(0, 11)}));
    EXPECT_NEAR(loose.worst_bend, *describe_polygon(flat(twelve)).bend, 1e-12);
}

TEST(Split, StraightCornerIsCutThroughAndNeverLeftInATriangleWithoutArea) {
    // Flat pentagon with corner 1 on the edge from 0 to 2: degenerate, so the filter reports it at any
    // tolerance. A piece keeping 0, 1, 2 in a row would be degenerate too (as a triangle it has no area),
    // so a diagonal leaves corner 1: 1-4 (length sqrt(1.16)) rather than 1-3 (sqrt(1.36)).
    const Corners pentagon{{0, 0, 0}, {0.4, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const SplitResult flat_split = split(pentagon, 45);
    ASSERT_TRUE(flat_split.ok) << flat_split.reason;
    EXPECT_EQ(pieces_of(flat_split), (Pieces{{0, 1, 4}, {1, 2, 3, 4}}));
    EXPECT_EQ(flat_split.worst_bend, 0.0);
    // Bent at corner 3 as well: every piece still avoids 0, 1, 2 in a row, and each is acceptable.
    Corners bent = pentagon;
    bent[3][2] = 0.4;
    const SplitResult bent_split = split(bent, 10);
    ASSERT_TRUE(bent_split.ok) << bent_split.reason;
    for (const auto& piece : pieces_of(bent_split)) {
        const PolygonShape shape = describe_polygon(flat(pick(bent, piece)));
        EXPECT_TRUE(piece.size() == 3 || (shape.bend && *shape.bend < 10)) << piece.size();
    }
    // Corner 4 raised instead: no piece of two corners is acceptable at these tolerances, and the
    // triangle 0, 1, 2 (no area) used to be taken as the third piece. The search, its fallback and the
    // triangulation all cut through corner 1 instead.
    const Corners raised{{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 1}};
    SplitOptions fallback;
    fallback.max_work = 1;
    for (const double tolerance : {45.0, 20.0, 5.0}) {
        const SplitResult searched = split(raised, tolerance);
        EXPECT_EQ(pieces_of(searched), (Pieces{{0, 1, 3}, {0, 3, 4}, {1, 2, 3}})) << tolerance;
        EXPECT_TRUE(searched.fewest);
        // The fallback's three pieces need not be the shortest.
        const SplitResult fell_back = split(raised, tolerance, fallback);
        ASSERT_TRUE(fell_back.ok) << fell_back.reason;
        EXPECT_EQ(fell_back.piece_count(), 3u);
        for (const auto& piece : pieces_of(fell_back)) EXPECT_NE(piece, (std::vector<std::uint32_t>{0, 1, 2}));
    }
    EXPECT_EQ(pieces_of(triangulate_polygon(flat(raised))), (Pieces{{0, 1, 3}, {0, 3, 4}, {1, 2, 3}}));
    // Straight corners all round (a bent octagon with a corner in the middle of each side of a square):
    // every triangle of every split has an area.
    Corners octagon{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 2, 0.7}, {1, 2, 0}, {0, 2, 0}, {0, 1, 0}};
    for (const double tolerance : {0.0, 5.0, 30.0}) {
        for (const SplitResult& result :
             {split(octagon, tolerance), split(octagon, tolerance, fallback), triangulate_polygon(flat(octagon))}) {
            ASSERT_TRUE(result.ok) << tolerance << ": " << result.reason;
            for (const auto& piece : pieces_of(result)) {
                if (piece.size() != 3) continue;
                const Corner a = octagon[piece[0]], b = octagon[piece[1]], c = octagon[piece[2]];
                const double ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
                const double vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
                EXPECT_GT(std::hypot(uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx), 0.0)
                    << tolerance << ": triangle " << piece[0] << " " << piece[1] << " " << piece[2];
            }
        }
    }
}

TEST(Split, RefusesWithAReason) {
    const Corners s = unit_square();
    const Corners bent = raised_square(0.5);
    EXPECT_EQ(split({bent[0], bent[1], bent[1], bent[2], bent[3]}, 10).reason, "zero-length edge at corner 1");
    EXPECT_EQ(split({{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {2, 2, 0}, {0, 2, 0.5}, {1, 1, 0}}, 10).reason,
              "corners 2 and 5 are at the same position");
    EXPECT_EQ(split({{0, 0, 0}, {3, 0, 0}, {0, 1, 0.5}, {2, 2, 0}}, 10).reason,
              "the outline crosses itself as seen along its normal (edges 1-2 and 3-0)");
    EXPECT_EQ(split({s[0], s[1]}, 10).reason, "a polygon needs at least 3 corners (this one has 2)");
    EXPECT_EQ(split_polygon(std::vector<double>{0, 0, 0, 1, 0}, 10).reason,
              "corner positions: 5 values, not x, y, z per corner");
    EXPECT_EQ(split(bent, std::nan("")).reason, "the tolerance is not a number");
    SplitOptions tiny;
    tiny.max_corners = 3;
    EXPECT_EQ(split(bent, 10, tiny).reason, "the polygon has 4 corners; at most 3 can be split");
    // Beyond the search's budget, the fallback takes up to 8192 corners.
    SplitOptions huge;
    huge.max_corners = 9000;
    huge.max_work = 1;
    EXPECT_EQ(split(fold_above(regular(8193), 0.1, 30), 10, huge).reason,
              "splitting needs more than 1 search steps (polygon of 8193 corners; beyond them at most 8192 corners "
              "can be split)");
    // Acceptable as they stand: one piece, whatever the outline.
    EXPECT_EQ(pieces_of(split(s, 0.5)), (Pieces{{0, 1, 2, 3}}));
    EXPECT_EQ(pieces_of(split({s[0], s[1], s[2]}, 0)), (Pieces{{0, 1, 2}}));
}

TEST(Split, ZeroToleranceLeavesOnlyTrianglesWithTheShortestDiagonals) {
    // Nothing but a triangle is acceptable at 0 degrees, so split_polygon must find the same
    // triangulation length as the separate optimal triangulation.
    Corners bumpy = regular(9, 0.1);
    for (std::size_t k = 0; k < bumpy.size(); ++k) bumpy[k][2] = 0.05 * static_cast<double>(k % 3);
    bumpy[4] = {0.2, 0.3, 0.1};  // a reflex corner
    const SplitResult by_split = split(bumpy, 0);
    const SplitResult by_triangles = triangulate_polygon(flat(bumpy));
    ASSERT_TRUE(by_split.ok) << by_split.reason;
    ASSERT_TRUE(by_triangles.ok) << by_triangles.reason;
    EXPECT_EQ(by_split.piece_count(), 7u);
    EXPECT_EQ(by_triangles.piece_count(), 7u);
    EXPECT_NEAR(by_split.diagonal_length, by_triangles.diagonal_length, 1e-12);
}

TEST(Triangulate, ShortestDiagonalsInsideTheOutline) {
    // Regular hexagon of side 1: an inner triangle of short diagonals (3 sqrt 3) beats any fan
    // (2 sqrt 3 + 2). Both inner triangles tie.
    const SplitResult hexagon = triangulate_polygon(flat(regular(6)));
    ASSERT_TRUE(hexagon.ok);
    EXPECT_TRUE(pieces_of(hexagon) == (Pieces{{0, 1, 2}, {0, 2, 4}, {0, 4, 5}, {2, 3, 4}}) ||
                pieces_of(hexagon) == (Pieces{{0, 1, 5}, {1, 2, 3}, {1, 3, 5}, {3, 4, 5}}));
    EXPECT_NEAR(hexagon.diagonal_length, 3 * std::sqrt(3.0), 1e-12);
    // The L: four triangles, none across the notch or through the reflex corner.
    const SplitResult l_shape = triangulate_polygon(flat(l_hexagon()));
    ASSERT_TRUE(l_shape.ok);
    EXPECT_EQ(l_shape.piece_count(), 4u);
    for (const auto& piece : pieces_of(l_shape)) {
        const auto has = [&](std::uint32_t c) { return std::find(piece.begin(), piece.end(), c) != piece.end(); };
        EXPECT_FALSE(has(2) && has(4)) << "across the notch";
        EXPECT_FALSE(has(1) && has(5)) << "through the reflex corner";
    }
    EXPECT_EQ(triangulate_polygon(flat({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}})).reason,
              "zero-length edge at corner 1");
}

TEST(Split, ThousandCornerPolygonsBentAlongAFewLinesFitTheSearchLimit) {
    // Folded along chords through corners: one flat piece per side of each fold.
    const Corners circle = regular(1000);
    Corners twice = fold_along(circle, circle[450], circle[50], 35);
    twice = fold_along(twice, twice[950], twice[550], -25);
    const SplitResult chords = split(twice, 10);
    ASSERT_TRUE(chords.ok) << chords.reason;
    EXPECT_EQ(pieces_of(chords), (Pieces{[] {
                                             auto middle = range(0, 50);
                                             for (std::uint32_t k = 450; k <= 550; ++k) middle.push_back(k);
                                             for (std::uint32_t k = 950; k < 1000; ++k) middle.push_back(k);
                                             return middle;
                                         }(),
                                         range(50, 450), range(550, 950)}));
    // Folded along lines between corners: each fold line crosses two edges, around which small pieces
    // must be cut off (two triangles for one such crossing in the first polygon).
    const SplitResult once = split(fold_above(regular(1000, 0.001), 0.3, 35), 10);
    ASSERT_TRUE(once.ok) << once.reason;
    EXPECT_EQ(once.piece_count(), 4u);
    Corners across = fold_above(regular(1000, 0.001), 0.3, 35);
    for (Corner& c : across) c[1] = -c[1];
    across = fold_above(across, 0.4, 30);
    for (Corner& c : across) c[1] = -c[1];
    const SplitResult two = split(across, 10);
    ASSERT_TRUE(two.ok) << two.reason;
    EXPECT_EQ(two.piece_count(), 6u);
}

TEST(Split, HostileValuesNeverCrash) {
    // Corners drawn from extreme, repeated and non-finite values: every call returns (a reason, or a
    // proper split whose pieces cover each corner), nothing throws, nothing reads out of bounds.
    std::mt19937 rng(99);
    const double values[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             0.5,
                             1e-300,
                             -1e-300,
                             1e300,
                             -1e300,
                             1e308,
                             3.0,
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::denorm_min()};
    const double tolerances[] = {-5.0, 0.0, 10.0, 90.0, 1e9, std::numeric_limits<double>::quiet_NaN()};
    for (int round = 0; round < 3000; ++round) {
        const std::size_t corners = rng() % 9;
        std::vector<double> xyz;
        for (std::size_t k = 0; k < 3 * corners; ++k) {
            // Mostly small integers (so repeats and straight corners happen), sometimes extremes.
            xyz.push_back(rng() % 4 == 0 ? values[rng() % std::size(values)] : static_cast<double>(rng() % 3));
        }
        if (rng() % 10 == 0) xyz.push_back(1);  // not whole corners
        const double tolerance = tolerances[rng() % std::size(tolerances)];
        SplitOptions options;
        options.max_work = 20000;
        const SplitResult split = split_polygon(xyz, tolerance, options);
        const SplitResult triangles = triangulate_polygon(xyz, options);
        for (const SplitResult* result : {&split, &triangles}) {
            EXPECT_EQ(result->ok, result->reason.empty());
            if (!result->ok) continue;
            std::vector<int> seen(corners, 0);
            for (const std::uint32_t c : result->corners) {
                ASSERT_LT(c, corners);
                ++seen[c];
            }
            for (const int s : seen) EXPECT_GE(s, 1);
        }
        if (xyz.size() % 3 == 0) {
            const PolygonShape shape = describe_polygon(xyz);
            EXPECT_EQ(shape.corners, corners);
        } else {
            EXPECT_THROW(describe_polygon(xyz), GeometryError);
        }
    }
}
