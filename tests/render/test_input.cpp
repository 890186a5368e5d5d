// Input at the edges: nothing to draw, coordinates that are not finite or are enormous, a polygon with a
// great many corners, and arrays that disagree (rejected, naming the object and polygon).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "render_test_util.h"
#include "render.h"

using namespace torvel::render;
using namespace rendertest;

namespace {

const Rgba kViewBack{46, 50, 58, 255};

Rgba centre_of(const Image& image, const ViewFrame& view) {
    return image.at(view.x + view.width / 2, view.y + view.height / 2);
}

// Expects `objects` to be refused with a message containing `what`.
void expect_refused(std::span<const Object> objects, const std::string& what) {
    try {
        render_png(objects, Picture{});
        ADD_FAILURE() << "accepted; expected: " << what;
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
}

}  // namespace

TEST(Input, NothingToDrawStillGivesTheSheet) {
    Mesh points_only;  // vertices, no polygons
    points_only.vertex(1, 2, 3);
    const Object none_at_all[] = {Object{}};
    const Object with_points[] = {points_only.view()};
    for (std::span<const Object> objects :
         {std::span<const Object>{}, std::span<const Object>(none_at_all), std::span<const Object>(with_points)}) {
        const Picture picture{300, 200, {"empty.obj: 0 polygons"}};
        const Image image = decode_png(render_png(objects, picture));
        ASSERT_EQ(image.width, 300);
        ASSERT_EQ(image.height, 200);
        for (const ViewFrame& view : frame_views(objects, picture)) EXPECT_EQ(centre_of(image, view), kViewBack);
    }
}

TEST(Input, NonFiniteCoordinatesLeaveOnlyTheirPolygonsOut) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    Mesh m;
    // A square in the plane x + y + z = 0, which every view sees.
    const std::uint32_t a = m.vertex(0, 0, 0), b = m.vertex(1, -1, 0), c = m.vertex(1, -2, 1), d = m.vertex(0, -1, 1);
    m.polygon({a, b, c, d}, PolygonState::planar);
    m.polygon({a, b, m.vertex(nan, 5, 5)}, PolygonState::reported);
    m.polygon({c, d, m.vertex(7, -inf, 0)}, PolygonState::degenerate);
    m.polygon({m.vertex(nan, nan, nan)}, PolygonState::reported);
    const Object objects[] = {m.view()};
    const Picture picture;
    const Image image = decode_png(render_png(objects, picture));
    for (const ViewFrame& view : frame_views(objects, picture)) {
        SCOPED_TRACE(std::string(view.name));
        // Framed on the finite square alone, which shows grey; nothing red or magenta anywhere.
        const auto s = *view.to_sheet(0.5, -1, 0.5);
        EXPECT_TRUE(is_grey(image.at(static_cast<int>(s[0]), static_cast<int>(s[1]))));
        EXPECT_FALSE(view.to_sheet(nan, 0, 0).has_value());
    }
    for (const ViewFrame& view : frame_views(objects, picture)) {
        for (int y = view.y; y < view.y + view.height; ++y)
            for (int x = view.x; x < view.x + view.width; ++x)
                ASSERT_FALSE(is_red(image.at(x, y)) || is_magenta(image.at(x, y)));
    }
}

TEST(Input, HugeCoordinatesAndManyCornersDrawNormally) {
    // A disc of 200000 corners, as far out as doubles go, and a reported sliver across it.
    const double r = 1e308;
    Mesh m;
    constexpr std::uint32_t kCorners = 200000;
    for (std::uint32_t i = 0; i < kCorners; ++i) {
        const double t = 2 * std::numbers::pi * i / kCorners;
        m.vertex(r * std::cos(t), r * std::sin(t), 0);
    }
    m.indices.resize(kCorners);
    for (std::uint32_t i = 0; i < kCorners; ++i) m.indices[i] = i;
    m.offsets.push_back(kCorners);
    m.states.push_back(PolygonState::planar);
    const Object objects[] = {m.view()};
    const Picture picture;
    const Image image = decode_png(render_png(objects, picture));
    const auto views = frame_views(objects, picture);
    EXPECT_TRUE(is_grey(centre_of(image, views[0])));
    EXPECT_TRUE(is_grey(centre_of(image, views[3])));
    // The front view frames the disc: its rim is near the view's edges, its outside corners are empty.
    const auto rim = *views[0].to_sheet(r, 0, 0);
    EXPECT_NEAR(rim[0], views[0].x + views[0].width, 0.1 * views[0].width);
    EXPECT_EQ(image.at(views[0].x + 3, views[0].y + views[0].height - 3), kViewBack);
}

TEST(Input, ScaleByAPowerOfTwoLeavesThePictureAsItIs) {
    // Framing, shading and depth work on coordinates brought near 1 first, so neither the smallest normal
    // doubles nor the largest ones (whose differences across the mesh overflow) change a pixel.
    const Mesh base = cylinder();
    const Picture picture{512, 512, {"cylinder.obj"}};
    const Object base_view[] = {base.view()};
    const std::vector<unsigned char> expected = render_png(base_view, picture);
    for (const int exponent : {-900, 1023}) {
        Mesh scaled = base;
        for (double& c : scaled.positions) c = std::ldexp(c, exponent);
        const Object objects[] = {scaled.view()};
        EXPECT_EQ(render_png(objects, picture), expected) << "scaled by 2^" << exponent;
    }
}

TEST(Input, CombWithManyTeethFillsTeethAndLeavesGaps) {
    // One polygon: a spine along the bottom and kTeeth teeth the full height of the view, so every row
    // crosses two edges per tooth. The gaps between teeth stay empty.
    for (const std::uint32_t teeth : {24u, 20000u}) {
        Mesh m;
        const double spine = 0.5, height = 2.0 * teeth;  // square: every tooth spans the rows of the view
        std::vector<std::uint32_t> corners;
        corners.push_back(m.vertex(0, 0, 0));
        corners.push_back(m.vertex(2.0 * teeth - 1, 0, 0));
        for (std::uint32_t t = teeth; t-- > 0;) {  // right to left along the top
            const double x = 2.0 * t;
            corners.push_back(m.vertex(x + 1, height, 0));
            corners.push_back(m.vertex(x, height, 0));
            if (t > 0) {
                corners.push_back(m.vertex(x, spine, 0));
                corners.push_back(m.vertex(x - 1, spine, 0));
            }
        }
        m.indices = corners;
        m.offsets.push_back(static_cast<std::uint32_t>(corners.size()));
        m.states.push_back(PolygonState::planar);
        const Object objects[] = {m.view()};
        const Picture picture;
        const Image image = decode_png(render_png(objects, picture));
        if (teeth > 100) continue;  // the teeth are under a pixel: only that it finishes is asked
        const ViewFrame front = frame_views(objects, picture)[0];
        for (std::uint32_t t = 0; t + 1 < teeth; ++t) {
            const auto tooth = *front.to_sheet(2.0 * t + 0.5, height / 2, 0);
            const auto gap = *front.to_sheet(2.0 * t + 1.5, height / 2, 0);
            EXPECT_TRUE(is_grey(image.at(static_cast<int>(tooth[0]), static_cast<int>(tooth[1])))) << t;
            EXPECT_EQ(image.at(static_cast<int>(gap[0]), static_cast<int>(gap[1])), kViewBack) << t;
        }
    }
}

TEST(Input, MismatchedArraysAreRefusedByName) {
    Mesh m;
    const std::uint32_t a = m.vertex(0, 0, 0), b = m.vertex(1, 0, 0), c = m.vertex(1, 1, 0);
    m.polygon({a, b, c}, PolygonState::planar);
    m.polygon({c, b, a}, PolygonState::planar);
    const Object good = m.view();

    Mesh bad_index = m;
    bad_index.indices[4] = 3;
    const Object index_case[] = {good, bad_index.view()};
    expect_refused(index_case, "object 1: polygon 1: vertex index 3 out of range (3 vertices)");

    Mesh backwards = m;
    backwards.offsets[2] = 2;
    const Object backwards_case[] = {backwards.view()};
    expect_refused(backwards_case, "object 0: polygon 1: offsets run backwards");

    Mesh short_indices = m;
    short_indices.indices.pop_back();
    const Object short_case[] = {short_indices.view()};
    expect_refused(short_case, "object 0: offsets reach index 6 of 5");

    Mesh few_states = m;
    few_states.states.pop_back();
    const Object states_case[] = {few_states.view()};
    expect_refused(states_case, "object 0: 1 states for 2 polygons");

    Mesh odd_state = m;
    odd_state.states[1] = static_cast<PolygonState>(7);
    const Object odd_state_case[] = {odd_state.view()};
    expect_refused(odd_state_case, "object 0: polygon 1: unknown state 7");

    Mesh ragged = m;
    ragged.positions.pop_back();
    const Object ragged_case[] = {ragged.view()};
    expect_refused(ragged_case, "object 0: 8 position values, not three per vertex");

    Mesh late_start = m;
    late_start.offsets[0] = 1;
    const Object late_case[] = {late_start.view()};
    expect_refused(late_case, "object 0: offsets start at 1, not 0");

    const Object fine[] = {good};
    for (auto [w, h] : {std::pair{63, 500}, std::pair{500, 8193}, std::pair{-1, 0}}) {
        EXPECT_THROW(render_png(fine, Picture{w, h, {}}), std::invalid_argument) << w << "x" << h;
    }
    EXPECT_EQ(decode_png(render_png(fine, Picture{64, 64, {"a", "b", "c"}})).width, 64);
}
