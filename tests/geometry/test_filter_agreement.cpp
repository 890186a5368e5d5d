// The bend against the plug-in's own planarity test, run on the same polygons in the host: at each
// tolerance T the filter reports a polygon of 4+ corners exactly when it is degenerate or bent by T or
// more (rounding aside: bends within 1e-6 degrees of T are not compared).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry_test_util.h"
#include "planarity.h"
#include "polygon_shape.h"
#include "test_meshes.h"

using namespace geotest;

TEST(FilterAgreement, ReportedExactlyWhenDegenerateOrBentByTheToleranceOrMore) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Corners> polygons;
    for (const double h : {0.0, 0.02, 0.1, 0.5, 3.0}) polygons.push_back(raised_square(h));
    polygons.push_back(twisted_quad(0.4));
    polygons.push_back(l_hexagon());
    polygons.push_back(collinear_pentagon());
    polygons.push_back({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}});  // perpendicular corner normals
    const Corners s = unit_square();
    polygons.push_back({s[0], s[1], s[1], s[2], s[3]});  // a repeated corner
    polygons.push_back({s[0], s[0], s[1], s[2], s[3]});  // repeated at the start
    for (int k = 0; k < 300; ++k) {
        // Random outlines of 4 to 12 corners, some folded, some rough, some with a reflex corner.
        Corners p = regular(4 + static_cast<std::size_t>(unit(rng) * 9), unit(rng));
        for (Corner& c : p) {
            const double r = 0.5 + unit(rng);
            c = {c[0] * r, c[1] * r, k % 3 == 0 ? 0.3 * (unit(rng) - 0.5) : 0.0};
        }
        if (k % 3 == 1) p = fold_above(p, unit(rng) - 0.5, 90 * unit(rng));
        polygons.push_back(p);
    }

    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0}, indices;
    std::vector<torvel::test::Polygon> host_polygons;
    for (const Corners& polygon : polygons) {
        for (const Corner& c : polygon) {
            indices.push_back(static_cast<std::uint32_t>(positions.size() / 3));
            positions.insert(positions.end(), c.begin(), c.end());
        }
        offsets.push_back(static_cast<std::uint32_t>(indices.size()));
        host_polygons.emplace_back(polygon.begin(), polygon.end());
    }
    std::vector<std::uint32_t> all(polygons.size());
    for (std::uint32_t k = 0; k < all.size(); ++k) all[k] = k;
    const auto shapes = torvel::geometry::describe_mesh({positions, offsets, indices}, all);

    torvel::host::host().new_scene();
    const XSI::CRef mesh = torvel::test::add_separate_polygons(L"agreement", host_polygons);
    int compared = 0, reported = 0;
    for (std::uint32_t k = 0; k < polygons.size(); ++k) {
        const XSI::PolygonFace face(torvel::host::component_ref(mesh, XSI::siPolygonFaceID, k));
        for (const double tolerance : {0.0, 1.0, 5.0, 20.0, 45.0, 80.0, 90.0}) {
            const auto& shape = shapes[k];
            if (shape.bend && std::fabs(*shape.bend - tolerance) < 1e-6) continue;
            const bool expected = shape.degenerate || *shape.bend >= tolerance;
            const bool filter = Vn_TorvelFilter_check_nontorvel(face, std::cos(tolerance * kDegree));
            EXPECT_EQ(filter, expected) << "polygon " << k << " at " << tolerance << ", bend "
                                        << (shape.bend ? *shape.bend : -1);
            ++compared;
            reported += filter ? 1 : 0;
        }
    }
    EXPECT_GT(reported, compared / 4);
    EXPECT_LT(reported, compared * 3 / 4);
}
