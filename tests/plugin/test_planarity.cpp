// The planarity test on polygons of real host meshes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "planarity.h"
#include "test_meshes.h"
#include "units.h"

namespace {

using namespace torvel::test;
using XSI::CRef;
using XSI::PolygonFace;

double cos_deg(double degrees) { return std::cos(degrees * torvel::kDegreesToRadians); }

class Planarity : public ::testing::Test {
protected:
    void SetUp() override { torvel::test::host().new_scene(); }

    static bool non_planar(const CRef& mesh, std::uint32_t polygon, double tolerance_cos) {
        return Vn_TorvelFilter_check_nontorvel(
            PolygonFace(torvel::host::sub_ref(mesh, XSI::siPolygonFaceID, polygon)), tolerance_cos);
    }
    static bool non_planar(const Polygon& polygon, double tolerance_cos) {
        return non_planar(add_separate_polygons(L"poly", {polygon}), 0, tolerance_cos);
    }
};

TEST_F(Planarity, FlatPolygonsPassUnlessTheToleranceIsZeroDegrees) {
    EXPECT_FALSE(non_planar(unit_square(), cos_deg(1)));
    EXPECT_FALSE(non_planar(unit_square(), 0.0));
    // Parallel normals make D equal P exactly, and equality fails.
    EXPECT_TRUE(non_planar(unit_square(), 1.0));
    // The reflex corner's normal points the other way; the squared comparison ignores the sign.
    EXPECT_FALSE(non_planar(l_hexagon(), cos_deg(1)));
}

TEST_F(Planarity, TrianglesAreNeverReported) {
    for (double c : {0.0, 1.0, -1.0, cos_deg(45), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(non_planar(triangle(), c)) << c;
}

TEST_F(Planarity, BendAtOrAboveTheToleranceIsReportedWhateverTheSignOfTheCosine) {
    const Polygon raised = raised_square(0.1);  // bends by atan 0.1, about 5.71 degrees
    EXPECT_TRUE(non_planar(raised, cos_deg(5)));
    EXPECT_FALSE(non_planar(raised, cos_deg(6)));
    EXPECT_TRUE(non_planar(raised, -cos_deg(5)));
    EXPECT_FALSE(non_planar(raised, -cos_deg(6)));
    // Perpendicular corner normals fail even at a 90 degree tolerance.
    EXPECT_TRUE(non_planar(right_angle_quad(), cos_deg(90)));
    EXPECT_FALSE(non_planar(folded_square(80), cos_deg(90)));
}

TEST_F(Planarity, ZeroCornerNormalIsReported) {
    // At cosine 0 every pair of non-zero normals passes, so only the zero normal can fail.
    EXPECT_TRUE(non_planar(collinear_pentagon(), 0.0));
    EXPECT_TRUE(non_planar(collinear_pentagon(), cos_deg(45)));
    EXPECT_TRUE(non_planar(collinear_pentagon(), 1.0));
}

TEST_F(Planarity, ZeroLengthEdgeIsReportedWhereverItSits) {
    const Polygon square = unit_square();
    // Corner `doubled` appears twice; the last case closes the list with a copy of the first corner.
    for (std::size_t doubled = 0; doubled <= square.size(); ++doubled) {
        Polygon polygon = square;
        polygon.insert(polygon.begin() + static_cast<std::ptrdiff_t>(doubled), square[doubled % square.size()]);
        for (double c : {0.0, cos_deg(45)})
            EXPECT_TRUE(non_planar(polygon, c)) << "corner " << doubled << ", cos " << c;
    }
}

TEST_F(Planarity, NanToleranceNeverReports) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Polygon& polygon : {unit_square(), raised_square(0.1), right_angle_quad(), collinear_pentagon()})
        EXPECT_FALSE(non_planar(polygon, nan));
    Polygon zero_edge = unit_square();
    zero_edge.push_back(zero_edge.back());
    EXPECT_FALSE(non_planar(zero_edge, nan));
}

// Rotating a polygon's corner list rotates its edge list; building the reversed polygon first makes
// every shared edge list its vertices against the tested polygon's winding.
TEST_F(Planarity, ResultDoesNotDependOnEdgeListStartOrEdgeDirection) {
    struct Case {
        Polygon polygon;
        double cos;
        bool expected;
    };
    const Case cases[] = {
        {raised_square(0.1), cos_deg(5), true},
        {raised_square(0.1), cos_deg(6), false},
        // Only one pair fails, so each rotation puts it at another step of the walk, the last included.
        {skewed_quad(), cos_deg(12), true},
        {skewed_quad(), cos_deg(13), false},
        {l_hexagon(), cos_deg(1), false},
        {collinear_pentagon(), 0.0, true},
    };
    for (const Case& c : cases) {
        const auto n = static_cast<std::uint32_t>(c.polygon.size());
        for (std::uint32_t start = 0; start < n; ++start) {
            std::vector<std::uint32_t> forward(n);
            for (std::uint32_t i = 0; i < n; ++i) forward[i] = (start + i) % n;
            const std::vector<std::uint32_t> reversed(forward.rbegin(), forward.rend());

            const CRef alone = add_indexed_mesh(L"alone", c.polygon, {forward});
            EXPECT_EQ(non_planar(alone, 0, c.cos), c.expected) << "start " << start;
            const CRef shared = add_indexed_mesh(L"shared", c.polygon, {reversed, forward});
            EXPECT_EQ(non_planar(shared, 0, c.cos), c.expected) << "reversed, start " << start;
            EXPECT_EQ(non_planar(shared, 1, c.cos), c.expected) << "against edges, start " << start;
        }
    }
}

}  // namespace
