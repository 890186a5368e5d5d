// The bend against the plug-in's verdict, the filter applied by the host to the same polygons: at each
// tolerance T the filter reports a polygon of 4+ corners exactly when it is degenerate or bent by T or
// more (rounding aside: bends within 1e-6 degrees of T are not compared).
#include <xsi_customproperty.h>

#include <cmath>
#include <random>
#include <set>

#include "geometry_test_util.h"
#include "plugin_fixture.h"
#include "polygon_shape.h"

using namespace geotest;

namespace {
class FilterAgreement : public torvel::test::PluginTest {};
}  // namespace

TEST_F(FilterAgreement, ReportedExactlyWhenDegenerateOrBentByTheToleranceOrMore) {
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

    const XSI::CRef mesh = torvel::test::add_separate_polygons(L"agreement", host_polygons);
    const XSI::CRef settings = add_settings();
    int compared = 0, reported = 0;
    for (const double tolerance : {0.0, 1.0, 5.0, 20.0, 45.0, 80.0, 90.0}) {
        XSI::ProjectItem(settings).PutParameterValue(L"def", XSI::CValue(tolerance));
        const std::vector<XSI::CRef> selection{
            torvel::test::host().make_component_item(mesh, XSI::siPolygonFaceID, {})};
        const auto result = torvel::host::run_filter(torvel::test::host(), poly_torvel_filer::kFilterName, selection);
        ASSERT_EQ(result.remaining.size(), 1u);
        const std::set<std::uint32_t> kept(result.remaining[0].begin(), result.remaining[0].end());
        for (std::uint32_t k = 0; k < polygons.size(); ++k) {
            const auto& shape = shapes[k];
            if (shape.bend && std::fabs(*shape.bend - tolerance) < 1e-6) continue;
            const bool expected = polygons[k].size() >= 4 && (shape.degenerate || *shape.bend >= tolerance);
            const bool filter = kept.count(k) != 0;
            EXPECT_EQ(filter, expected) << "polygon " << k << " at " << tolerance << ", bend "
                                        << (shape.bend ? *shape.bend : -1);
            ++compared;
            reported += filter ? 1 : 0;
        }
    }
    EXPECT_GT(reported, compared / 4);
    EXPECT_LT(reported, compared * 3 / 4);
}
