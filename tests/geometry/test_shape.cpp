// describe_polygon, describe_mesh and the bend histogram against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "geometry_test_util.h"
#include "polygon_shape.h"

using namespace torvel::geometry;
using torvel::MeshView;
using namespace geotest;

namespace {

double degrees(double radians) { return radians / kDegree; }

PolygonShape describe(const Corners& corners) { return describe_polygon(flat(corners)); }

Corners transformed(Corners corners, double scale, Corner offset) {
    for (Corner& c : corners) {
        for (int k = 0; k < 3; ++k) c[k] = c[k] * scale + offset[k];
    }
    return corners;
}

}  // namespace

TEST(Bend, RaisedSquareBendsByTheArctangentOfTheHeight) {
    // Corner normals (0,0,1), (0,-h,1), (-h,-h,1), (-h,0,1): the largest angle, atan h, is between the
    // first two and between the last and the first.
    for (const double h : {1e-3, 0.1, 1.0, 10.0}) {
        const PolygonShape shape = describe(raised_square(h));
        ASSERT_TRUE(shape.bend) << h;
        EXPECT_NEAR(*shape.bend, degrees(std::atan(h)), 1e-9) << h;
        EXPECT_FALSE(shape.degenerate);
        // Scaled by a power of two and moved: the same bend.
        const PolygonShape moved = describe(transformed(raised_square(h), 1024, {1e6, -3e6, 7}));
        EXPECT_NEAR(*moved.bend, degrees(std::atan(h)), 1e-9) << h;
    }
}

TEST(Bend, TwistedQuadAndReflexCornerCompareNormalsAsLines) {
    // Saddle: corner normals (-h,-h,1), (-h,h,1), (h,h,1), (h,-h,1); each neighbouring pair has dot 1
    // and cross of length 2h*sqrt(1+h^2).
    for (const double h : {0.05, 1.0}) {
        EXPECT_NEAR(*describe(twisted_quad(h)).bend, degrees(std::atan(2 * h * std::sqrt(1 + h * h))), 1e-9) << h;
    }
    // A dart whose reflex corner (1,1) is raised by h: its normal (2h,0,-2) points down. Its angle with the
    // neighbour (h,2h,1), as lines, is atan2(2h*sqrt(2+h^2), 1-h^2), not 180 degrees less.
    const double h = 0.1;
    const Corners dart{{0, 0, 0}, {2, 1, 0}, {0, 2, 0}, {1, 1, h}};
    const double expected =
        std::max(degrees(std::atan(std::sqrt(5.0) * h)), degrees(std::atan2(2 * h * std::sqrt(2 + h * h), 1 - h * h)));
    EXPECT_NEAR(*describe(dart).bend, expected, 1e-9);
    // Flat with a reflex corner: normals +z and -z are the same line.
    const PolygonShape l_shape = describe(l_hexagon());
    EXPECT_EQ(*l_shape.bend, 0.0);
    EXPECT_EQ(*l_shape.out_of_plane, 0.0);
}

TEST(Bend, ZeroCornerNormalsAreDegenerateWithTheirCause) {
    const PolygonShape pentagon = describe(collinear_pentagon());
    EXPECT_FALSE(pentagon.bend);
    ASSERT_TRUE(pentagon.degenerate);
    EXPECT_EQ(pentagon.degenerate->corner, 1u);
    EXPECT_EQ(cause_text(pentagon.degenerate->cause), "collinear");
    // The same pentagon listed from its third corner: the straight corner is now corner 4.
    const Corners p = collinear_pentagon();
    EXPECT_EQ(describe({p[2], p[3], p[4], p[0], p[1]}).degenerate->corner, 4u);
    // A corner repeated: corner 1's outgoing edge has no length (corner 2's incoming one neither).
    const Corners s = unit_square();
    const PolygonShape repeated = describe({s[0], s[1], s[1], s[2], s[3]});
    ASSERT_TRUE(repeated.degenerate);
    EXPECT_EQ(repeated.degenerate->corner, 1u);
    EXPECT_EQ(cause_text(repeated.degenerate->cause), "zero-length edge");
    // An edge that doubles back along itself.
    const PolygonShape spike = describe({{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    EXPECT_EQ(spike.degenerate->corner, 1u);
    EXPECT_EQ(spike.degenerate->cause, DegenerateCause::collinear);
}

TEST(Bend, SmallPolygonsAreNeverBentAndBadValuesDoNotCrash) {
    const PolygonShape triangle = describe({{0, 0, 0}, {1, 0, 0}, {0, 1, 5}});
    EXPECT_EQ(*triangle.bend, 0.0);
    EXPECT_FALSE(triangle.degenerate);
    EXPECT_NEAR(*triangle.out_of_plane, 0.0, 1e-15);
    const PolygonShape line = describe({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    EXPECT_FALSE(line.degenerate);
    EXPECT_FALSE(line.out_of_plane);  // zero Newell normal
    EXPECT_EQ(describe({}).corners, 0u);
    EXPECT_FALSE(describe({}).out_of_plane);

    Corners nan_square = unit_square();
    nan_square[2][2] = std::numeric_limits<double>::quiet_NaN();
    const PolygonShape nan_shape = describe(nan_square);
    EXPECT_TRUE(std::isnan(*nan_shape.bend));
    EXPECT_FALSE(nan_shape.out_of_plane);
    EXPECT_THROW(describe_polygon(std::vector<double>{0, 0, 0, 1}), GeometryError);
}

TEST(OutOfPlane, MatchesHandValuesAndIgnoresScale) {
    // Raised square: Newell normal (-h,-h,2), every corner h/2 from the centroid's plane along it, the
    // diagonal 0-2 of length sqrt(2+h^2) the longest.
    for (const double h : {0.1, 10.0}) {
        const double expected = h / (2 * std::sqrt(2.0) * (2 + h * h));
        EXPECT_NEAR(*describe(raised_square(h)).out_of_plane, expected, 1e-15 + 1e-12 * expected) << h;
        EXPECT_NEAR(*describe(transformed(raised_square(h), 1000, {5, 6, 7})).out_of_plane, expected, 1e-12) << h;
    }
    // Twisted quad with h = 1: normal (0,0,2), corners 1/2 off, diagonals sqrt(2).
    EXPECT_NEAR(*describe(twisted_quad(1)).out_of_plane, 0.5 / std::sqrt(2.0), 1e-15);
    EXPECT_EQ(*describe(unit_square()).out_of_plane, 0.0);
}

TEST(OutOfPlane, SaddleThatPassesTheCornerTestStillStandsOut) {
    // 64 corners on the unit circle at height 0.3 cos(2t): neighbouring corners turn gently, yet by
    // symmetry the Newell normal is z, the corners stand up to 0.3 off the plane z = 0, and the
    // diameter is 2.
    Corners saddle = regular(64);
    for (std::size_t k = 0; k < saddle.size(); ++k)
        saddle[k][2] = 0.3 * std::cos(4 * kPi * static_cast<double>(k) / 64);
    const PolygonShape shape = describe(saddle);
    EXPECT_LT(*shape.bend, 20.0);
    EXPECT_NEAR(*shape.out_of_plane, 0.15, 1e-12);
}

TEST(DescribeMesh, MatchesOnePolygonAtATimeAndNamesBadArrays) {
    // Two polygons sharing vertices 1 and 2: a raised square and a triangle.
    const std::vector<double> positions{0, 0, 0, 1, 0, 0, 1, 1, 0.25, 0, 1, 0, 2, 0, 0};
    const std::vector<std::uint32_t> offsets{0, 4, 7};
    const std::vector<std::uint32_t> indices{0, 1, 2, 3, 1, 4, 2};
    const MeshView mesh{positions, offsets, indices};
    const std::vector<std::uint32_t> which{1, 0};
    const std::vector<PolygonShape> shapes = describe_mesh(mesh, which);
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[0].corners, 3u);
    EXPECT_NEAR(*shapes[1].bend, degrees(std::atan(0.25)), 1e-9);
    EXPECT_EQ(polygon_corners(mesh, 1), (std::vector<double>{1, 0, 0, 2, 0, 0, 1, 1, 0.25}));

    auto error_of = [](const MeshView& m, std::uint32_t polygon) {
        try {
            polygon_corners(m, polygon);
        } catch (const GeometryError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(error_of(mesh, 2), "polygon 2 does not exist (the mesh has 2 polygons)");
    const std::vector<std::uint32_t> bad_index{0, 1, 2, 3, 1, 9, 2};
    EXPECT_EQ(error_of({positions, offsets, bad_index}, 1),
              "polygon 1, corner 1: vertex 9 out of range (the mesh has 5 vertices)");
    const std::vector<std::uint32_t> backwards{0, 4, 3};
    EXPECT_EQ(error_of({positions, backwards, indices}, 1), "polygon 1: offsets 4 to 3 run backwards");
    const std::vector<std::uint32_t> past{0, 4, 8};
    EXPECT_EQ(error_of({positions, past, indices}, 1), "polygon 1: offsets 4 to 8 run past the 7 indices");
    EXPECT_EQ(error_of({std::span<const double>(positions).first(14), offsets, indices}, 0),
              "positions holds 14 values, not x, y, z per vertex");
    EXPECT_EQ(error_of({positions, {}, indices}, 0), "offsets is empty (it needs polygon count + 1 entries)");
    EXPECT_THROW(bend_histogram({positions, offsets, bad_index}), GeometryError);
}

TEST(Histogram, CountsBandsAndWhatEachToleranceWouldReport) {
    // Raised squares bent by chosen angles, a flat square, a right-angle quad (bend exactly 90), the
    // straight-cornered pentagon, a triangle.
    std::vector<Corners> polygons;
    for (const double bend : {0.5, 1.5, 3.0, 3.5, 44.0, 45.5, 89.0})
        polygons.push_back(raised_square(std::tan(bend * kDegree)));
    polygons.push_back(unit_square());
    polygons.push_back({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}});
    polygons.push_back(collinear_pentagon());
    polygons.push_back({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0}, indices;
    for (const Corners& polygon : polygons) {
        for (const Corner& c : polygon) {
            indices.push_back(static_cast<std::uint32_t>(positions.size() / 3));
            positions.insert(positions.end(), c.begin(), c.end());
        }
        offsets.push_back(static_cast<std::uint32_t>(indices.size()));
    }
    const BendHistogram histogram = bend_histogram({positions, offsets, indices});
    // Bands 0-1, 1-2, 2-5, 5-10, 10-20, 20-45, 45-90.
    EXPECT_EQ(histogram.bands, (std::array<std::uint64_t, 7>{2, 1, 2, 0, 0, 1, 3}));
    EXPECT_EQ(histogram.at_90, 1u);
    EXPECT_EQ(histogram.degenerate, 1u);
    EXPECT_EQ(histogram.small, 1u);
    // At T: the degenerate pentagon and every bend of T or more. Everything at 0, only the right angle
    // at 90.
    EXPECT_EQ(histogram.reported(), (std::array<std::uint64_t, 8>{10, 8, 7, 5, 5, 5, 4, 2}));
    // Each polygon on its own agrees with its band.
    for (std::size_t k = 0; k + 3 < polygons.size(); ++k) {
        const PolygonShape shape = describe(polygons[k]);
        const std::vector<double> one = flat(polygons[k]);
        const std::vector<std::uint32_t> one_offsets{0, static_cast<std::uint32_t>(polygons[k].size())};
        std::vector<std::uint32_t> one_indices(polygons[k].size());
        for (std::uint32_t c = 0; c < one_indices.size(); ++c) one_indices[c] = c;
        const BendHistogram single = bend_histogram({one, one_offsets, one_indices});
        for (std::size_t t = 0; t < kBendBandEdges.size(); ++t) {
            EXPECT_EQ(single.reported()[t], *shape.bend >= kBendBandEdges[t] ? 1u : 0u) << k << " at " << t;
        }
    }
}

TEST(DescribeMesh, ArbitraryArraysEitherDescribeOrThrowGeometryError) {
    std::mt19937 rng(4);
    for (int round = 0; round < 2000; ++round) {
        std::vector<double> positions(rng() % 14);
        for (double& p : positions) p = static_cast<double>(rng() % 5) - 2;
        std::vector<std::uint32_t> offsets(rng() % 5), indices(rng() % 10);
        for (auto& o : offsets) o = static_cast<std::uint32_t>(rng() % 12);
        if (!offsets.empty() && rng() % 2) offsets[0] = 0;
        for (auto& i : indices) i = static_cast<std::uint32_t>(rng() % 6);
        const MeshView mesh{positions, offsets, indices};
        const std::vector<std::uint32_t> which{static_cast<std::uint32_t>(rng() % 4)};
        try {
            EXPECT_EQ(describe_mesh(mesh, which).size(), 1u);
        } catch (const GeometryError&) {
        }
        try {
            const BendHistogram h = bend_histogram(mesh);
            std::uint64_t total = h.small + h.degenerate + h.not_finite;
            for (const auto b : h.bands) total += b;
            EXPECT_EQ(total, offsets.size() - 1);
        } catch (const GeometryError&) {
        }
    }
}

TEST(NearlyCollinear, ExactCornersAreTheDegenerateOnesAndNearCornersAreMeasuredRelativeToSize) {
    // An exactly straight corner is the one describe_polygon calls degenerate; a repeated corner too.
    const std::optional<CollinearCorner> straight = nearly_collinear_corner(flat(collinear_pentagon()));
    ASSERT_TRUE(straight);
    EXPECT_TRUE(straight->exact);
    EXPECT_EQ(straight->corner, describe(collinear_pentagon()).degenerate->corner);
    const Corners s = unit_square();
    EXPECT_TRUE(nearly_collinear_corner(flat({s[0], s[1], s[1], s[2], s[3]}))->exact);

    // Corner 1 of the pentagon moved off its neighbours' line by d within the plane: the far end of its
    // outgoing edge stands 2d above the line of the incoming one, and the bounding box's diagonal is
    // sqrt(2). The same relative height at any scale and place.
    for (const double d : {1e-9, 1e-7, 5e-6}) {
        Corners p = collinear_pentagon();
        p[1][1] = d;
        for (const Corners& q :
             {p, transformed(p, 1e6, {3e8, -2e8, 1e7}), transformed(p, 1.0 / 1024, {0.125, 0.25, 0.5})}) {
            const std::optional<CollinearCorner> near = nearly_collinear_corner(flat(q));
            ASSERT_TRUE(near) << d;
            EXPECT_FALSE(near->exact);
            EXPECT_EQ(near->corner, 1u);
            EXPECT_NEAR(near->height, 2 * d / std::sqrt(2.0), 1e-3 * d) << d;
        }
    }
    Corners bent = collinear_pentagon();
    bent[1][1] = 1e-3;
    EXPECT_FALSE(nearly_collinear_corner(flat(bent)));
    EXPECT_TRUE(nearly_collinear_corner(flat(bent), 1e-2));  // the epsilon is the caller's
    // Of two near corners, the nearer one.
    const Corners two{{0, 0, 0}, {0.5, 1e-7, 0}, {1, 0, 0}, {1, 0.5, 1e-9}, {1, 1, 0}, {0, 1, 0}};
    EXPECT_EQ(nearly_collinear_corner(flat(two))->corner, 3u);
    // Nothing for squares, triangles, regular polygons of coarse corners, or a non-finite coordinate.
    EXPECT_FALSE(nearly_collinear_corner(flat(unit_square())));
    EXPECT_FALSE(nearly_collinear_corner(flat({{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}})));
    EXPECT_FALSE(nearly_collinear_corner(flat(regular(64))));
    Corners nan_pentagon = collinear_pentagon();
    nan_pentagon[3][0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(nearly_collinear_corner(flat(nan_pentagon)));
    EXPECT_THROW(nearly_collinear_corner(std::vector<double>{1, 2}), GeometryError);
}

TEST(NearlyCollinear, ANoiseCornerOfAFlatPolygonBendsItByAboutNinetyDegrees) {
    // What a reported flat polygon looks like: corner 1 lies on its neighbours' line but for 1e-9 out of
    // the plane. Its corner normal points along y, the others along z: a bend of 90 degrees, though the
    // polygon is flat to 1e-9 of its size.
    Corners p = collinear_pentagon();
    p[1][2] = 1e-9;
    const PolygonShape shape = describe(p);
    ASSERT_TRUE(shape.bend);
    EXPECT_GT(*shape.bend, 89.0);
    EXPECT_LT(*shape.out_of_plane, kNearlyCollinear);
    const std::optional<CollinearCorner> near = nearly_collinear_corner(flat(p));
    ASSERT_TRUE(near);
    EXPECT_EQ(near->corner, 1u);
    EXPECT_FALSE(near->exact);
}

TEST(PlaneDistance, InModelUnitsAgainstTheOutOfPlanePlane) {
    // Raised square: each corner h/2 along the Newell normal (-h,-h,2) of length sqrt(2h^2+4).
    for (const double h : {0.1, 10.0}) {
        const double expected = h / 2 / std::sqrt(2 * h * h + 4);
        EXPECT_NEAR(*plane_distance(flat(raised_square(h))), expected, 1e-15) << h;
        // Scaled by 1000: the distance in model units scales with it, out_of_plane does not.
        const Corners big = transformed(raised_square(h), 1000, {5, 6, 7});
        EXPECT_NEAR(*plane_distance(flat(big)), 1000 * expected, 1e-9) << h;
        EXPECT_NEAR(*plane_distance(flat(big)) / std::sqrt(2 + h * h) / 1000, *describe(big).out_of_plane, 1e-12);
    }
    EXPECT_EQ(*plane_distance(flat(unit_square())), 0.0);
    EXPECT_FALSE(plane_distance(flat({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}})));  // zero Newell normal
    Corners nan_square = unit_square();
    nan_square[0][0] = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(plane_distance(flat(nan_square)));
    EXPECT_THROW(plane_distance(std::vector<double>{1}), GeometryError);
}

TEST(PlaneDistance, AFacadeWithOneCornerFiveCentimetresOutStandsOutThoughItHardlyBends) {
    // A 100 m square facade far from the origin, one corner 5 cm out: the best-fit plane leaves each
    // corner 1.25 cm off it, while the corner normals turn by about 0.03 degrees.
    const double x0 = 4.5e5, y0 = 5.2e6;
    std::vector<double> positions{x0, y0, 0, x0 + 100, y0, 0, x0 + 100, y0 + 0.05, 100, x0, y0, 100,
                                  // a flat quad, a triangle, the flat quad once more
                                  x0, y0 + 10, 0, x0 + 100, y0 + 10, 0, x0 + 100, y0 + 10, 3, x0, y0 + 10, 3, x0,
                                  y0 + 20, 0, x0 + 1, y0 + 20, 0, x0, y0 + 25, 7};
    const std::vector<std::uint32_t> offsets{0, 4, 8, 11, 15};
    const std::vector<std::uint32_t> indices{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 4, 5, 6, 7};
    const MeshView mesh{positions, offsets, indices};
    EXPECT_LT(*describe_polygon(polygon_corners(mesh, 0)).bend, 0.05);
    const std::vector<PlaneDistance> out = out_of_plane_polygons(mesh, 0.01);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].polygon, 0u);
    EXPECT_NEAR(out[0].distance, 0.0125, 1e-5);
    EXPECT_TRUE(out_of_plane_polygons(mesh, 0.013).empty());  // more than the limit, not as much
    EXPECT_EQ(out_of_plane_polygons(mesh, 0).size(), 1u);     // the flat ones are at exactly 0
    const std::vector<std::uint32_t> bad{0, 1, 2, 99, 4, 5, 6, 7, 8, 9, 10, 4, 5, 6, 7};
    EXPECT_THROW(out_of_plane_polygons({positions, offsets, bad}, 0.01), GeometryError);
}
