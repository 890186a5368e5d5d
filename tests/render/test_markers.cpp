// Rings mark the reported and degenerate polygons a viewer could not otherwise see (hidden, tiny, edge on),
// and only those: a polygon whose colour already shows gets none.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "render.h"
#include "render_test_util.h"

using namespace torvel::render;
using namespace rendertest;

namespace {

template <class Pred>
int count_near(const Image& image, const ViewFrame& view, const std::array<double, 3>& p, int radius, Pred pred) {
    const auto s = *view.to_sheet(p[0], p[1], p[2]);
    const int cx = static_cast<int>(std::floor(s[0])), cy = static_cast<int>(std::floor(s[1]));
    int count = 0;
    for (int y = std::max(cy - radius, view.y); y <= std::min(cy + radius, view.y + view.height - 1); ++y)
        for (int x = std::max(cx - radius, view.x); x <= std::min(cx + radius, view.x + view.width - 1); ++x)
            count += pred(image.at(x, y));
    return count;
}

}  // namespace

TEST(Markers, HiddenBentQuadsAreRingedVisibleOnesAreNot) {
    std::vector<std::array<double, 3>> bent;
    const Mesh m = cylinder(&bent);
    const Object objects[] = {m.view()};
    const Picture picture{
        1024, 1024, {"cylinder.obj  (98 polygons, 101 vertices)", "tolerance 45\xc2\xb0: 4 non-planar, 1 degenerate"}};
    const std::vector<unsigned char> png = render_png(objects, picture);
    if (const char* out = std::getenv("TORVEL_RENDER_EXAMPLE")) {  // docs/render-example.png is made this way
        std::ofstream(out, std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    }
    const Image image = decode_png(png);
    const ViewFrame front = frame_views(objects, picture)[0];
    // Seen from +Z, the quad at side 12 (the first) faces the camera; sides 1, 3 and 5 are on the far side.
    ASSERT_EQ(bent.size(), 4u);
    for (std::size_t i = 0; i < bent.size(); ++i) {
        const bool facing = bent[i][2] > 0;
        SCOPED_TRACE(i);
        EXPECT_EQ(facing, i == 0);
        const int ring = count_near(image, front, bent[i], 10, is_red_ring);
        if (facing) {
            EXPECT_EQ(ring, 0);
            EXPECT_GT(count_near(image, front, bent[i], 10, is_red), 300);
        } else {
            EXPECT_GT(ring, 60);
        }
    }
    // The degenerate quad (ring 5, side 9, collapsed onto its lower edge at y = 0.8) has no area in any
    // view: ringed in all four.
    for (const ViewFrame& view : frame_views(objects, picture)) {
        EXPECT_GT(
            count_near(image, view,
                       {std::cos(2 * std::numbers::pi * 9.5 / 16), 0.8, -std::sin(2 * std::numbers::pi * 9.5 / 16)}, 12,
                       [](Rgba c) {
                           return c == Rgba{255, 80, 255, 255};
                       }),
            60)
            << view.name;
    }
}

TEST(Markers, DenseReportedAreaShowsByItsColourAlone) {
    // 300 x 300 reported cells under a pixel each: the front view is solid red and carries no ring.
    Mesh m;
    constexpr std::uint32_t kSide = 300;
    for (std::uint32_t y = 0; y <= kSide; ++y)
        for (std::uint32_t x = 0; x <= kSide; ++x) m.vertex(x, y, 0);
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            const std::uint32_t v = y * (kSide + 1) + x;
            m.polygon({v, v + 1, v + kSide + 2, v + kSide + 1}, PolygonState::reported);
        }
    }
    const Object objects[] = {m.view()};
    const Picture picture;
    const Image image = decode_png(render_png(objects, picture));
    const ViewFrame front = frame_views(objects, picture)[0];
    int rings = 0, red = 0;
    for (int y = front.y; y < front.y + front.height; ++y) {
        for (int x = front.x; x < front.x + front.width; ++x) {
            rings += is_red_ring(image.at(x, y));
            red += is_red(image.at(x, y));
        }
    }
    EXPECT_EQ(rings, 0);
    EXPECT_GT(red, front.width * front.height / 2);
    // Seen edge on from the side, the same polygons are a line: ringed, a ring at least every spacing.
    const ViewFrame side = frame_views(objects, picture)[1];
    int side_rings = 0;
    for (int y = side.y; y < side.y + side.height; ++y)
        for (int x = side.x; x < side.x + side.width; ++x) side_rings += is_red_ring(image.at(x, y));
    EXPECT_GT(side_rings, 60 * (side.height / 2 / 12));
}

TEST(Markers, AnLShapedPolygonIsMarkedOnItselfOnlyWhenHidden) {
    // A reported L facing the front view, its arms a tenth of its size: the mean of its corners, (3.67,
    // 3.67), lies outside it. In front of a planar square it shows and gets no ring; behind the square it
    // is ringed, on its own arm, not out in the corner between its arms.
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "hidden" : "in front");
        Mesh m;
        const double z = hidden ? -1 : 1;
        const std::uint32_t l[] = {m.vertex(0, 0, z), m.vertex(10, 0, z), m.vertex(10, 1, z),
                                   m.vertex(1, 1, z), m.vertex(1, 10, z), m.vertex(0, 10, z)};
        m.polygon({l[0], l[1], l[2], l[3], l[4], l[5]}, PolygonState::reported);
        const std::uint32_t s[] = {m.vertex(-1, -1, 0), m.vertex(11, -1, 0), m.vertex(11, 11, 0), m.vertex(-1, 11, 0)};
        m.polygon({s[0], s[1], s[2], s[3]}, PolygonState::planar);
        const Object objects[] = {m.view()};
        const Picture picture;
        const Image image = decode_png(render_png(objects, picture));
        const ViewFrame front = frame_views(objects, picture)[0];
        int rings = 0;
        for (int y = front.y; y < front.y + front.height; ++y)
            for (int x = front.x; x < front.x + front.width; ++x) rings += is_red_ring(image.at(x, y));
        const int at_centre = count_near(image, front, {22.0 / 6, 22.0 / 6, 0}, 10, is_red_ring);
        EXPECT_EQ(at_centre, 0);
        if (!hidden) {
            EXPECT_EQ(rings, 0);
            EXPECT_GT(count_near(image, front, {0.5, 5, 0}, 10, is_red), 300);
        } else {
            EXPECT_GT(count_near(image, front, {0.5, 22.0 / 6, 0}, 10, is_red_ring), 60);
            EXPECT_EQ(rings, count_near(image, front, {0.5, 22.0 / 6, 0}, 10, is_red_ring));
        }
    }
}
