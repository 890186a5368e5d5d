// What each view shows: where a polygon projects in every view has its state's colour, small ones are
// still marked, concave outlines fill as drawn, and the bytes never change from run to run.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "render_test_util.h"
#include "render.h"

using namespace torvel::render;
using namespace rendertest;

namespace {

using Point = std::array<double, 3>;

// A row of five unit quads in the plane through the origin with normal (1, 1, 1), so that every view
// sees them face on enough; quad 2 has a corner lifted off the plane (it is the reported one), quad 4 is
// flat but given as degenerate.
struct RowOfQuads {
    Mesh mesh;
    std::array<Point, 5> centres;

    RowOfQuads() {
        const double r3 = 1 / std::sqrt(3.0), r2 = 1 / std::sqrt(2.0), r6 = 1 / std::sqrt(6.0);
        const Point n = {r3, r3, r3}, u = {r2, -r2, 0}, v = {-r6, -r6, 2 * r6};  // v = n x u
        auto at = [&](double a, double b, double lift) {
            return Point{a * u[0] + b * v[0] + lift * n[0], a * u[1] + b * v[1] + lift * n[1],
                         a * u[2] + b * v[2] + lift * n[2]};
        };
        std::array<std::uint32_t, 6> bottom{}, top{};
        for (int i = 0; i <= 5; ++i) {
            const Point b = at(i, 0, 0), t = at(i, 1, 0);
            bottom[i] = mesh.vertex(b[0], b[1], b[2]);
            top[i] = mesh.vertex(t[0], t[1], t[2]);
        }
        const Point lifted = at(3, 1, 0.4);
        const std::uint32_t lift = mesh.vertex(lifted[0], lifted[1], lifted[2]);
        for (std::uint32_t i = 0; i < 5; ++i) {
            const auto state = i == 2   ? PolygonState::reported
                               : i == 4 ? PolygonState::degenerate
                                        : PolygonState::planar;
            mesh.polygon({bottom[i], bottom[i + 1], i == 2 ? lift : top[i + 1], top[i]}, state);
            centres[i] = at(i + 0.5, 0.5, i == 2 ? 0.1 : 0);
        }
    }
};

Rgba pixel_at(const Image& image, const ViewFrame& view, const Point& p) {
    const auto s = view.to_sheet(p[0], p[1], p[2]);
    EXPECT_TRUE(s.has_value());
    const int x = static_cast<int>(std::floor((*s)[0])), y = static_cast<int>(std::floor((*s)[1]));
    EXPECT_GE(x, view.x);
    EXPECT_LT(x, view.x + view.width);
    EXPECT_GE(y, view.y);
    EXPECT_LT(y, view.y + view.height);
    return image.at(x, y);
}

// Pixels matching `pred` within `radius` of where p lands.
template <class Pred>
int count_near(const Image& image, const ViewFrame& view, const Point& p, int radius, Pred pred) {
    const auto s = *view.to_sheet(p[0], p[1], p[2]);
    const int cx = static_cast<int>(std::floor(s[0])), cy = static_cast<int>(std::floor(s[1]));
    int count = 0;
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if (x >= 0 && y >= 0 && x < image.width && y < image.height && pred(image.at(x, y))) ++count;
    return count;
}

const Rgba kViewBack{46, 50, 58, 255};

}  // namespace

TEST(Views, EachViewShowsEveryQuadInItsStateColour) {
    const RowOfQuads row;
    const Object objects[] = {row.mesh.view()};
    const Picture picture{800, 640, {"row.obj"}};
    const Image image = decode_png(render_png(objects, picture));
    ASSERT_EQ(image.width, 800);
    ASSERT_EQ(image.height, 640);
    const auto views = frame_views(objects, picture);
    EXPECT_EQ(views[0].name, "front");
    EXPECT_EQ(views[3].name, "perspective");
    for (const ViewFrame& view : views) {
        SCOPED_TRACE(std::string(view.name));
        for (int i = 0; i < 5; ++i) {
            const Rgba c = pixel_at(image, view, row.centres[static_cast<std::size_t>(i)]);
            if (i == 2) {
                EXPECT_TRUE(is_red(c)) << "quad " << i;
            } else if (i == 4) {
                EXPECT_TRUE(is_magenta(c)) << "quad " << i;
            } else {
                EXPECT_TRUE(is_grey(c)) << "quad " << i << ": " << int(c.r) << "," << int(c.g) << "," << int(c.b);
            }
        }
        // The views do not overlap: the rectangles sit in their own quarter.
        EXPECT_GT(view.width, 300);
        EXPECT_GT(view.height, 200);
    }
}

TEST(Views, FramingFillsTheViewAndRgbaMatchesThePng) {
    const RowOfQuads row;
    const Object objects[] = {row.mesh.view()};
    const Picture picture{512, 512, {}};
    const Sheet sheet = render_rgba(objects, picture);
    const Image image = decode_png(render_png(objects, picture));
    ASSERT_EQ(sheet.rgba.size(), image.pixels.size() * 4);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const Rgba c = image.pixels[i];
        ASSERT_EQ((Rgba{sheet.rgba[4 * i], sheet.rgba[4 * i + 1], sheet.rgba[4 * i + 2], sheet.rgba[4 * i + 3]}), c);
    }
    // Every vertex lands inside its view, and the mesh spans most of the view one way or the other.
    for (const ViewFrame& view : sheet.views) {
        double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
        for (std::size_t i = 0; i < row.mesh.positions.size(); i += 3) {
            const auto s = *view.to_sheet(row.mesh.positions[i], row.mesh.positions[i + 1], row.mesh.positions[i + 2]);
            x0 = std::min(x0, s[0]), x1 = std::max(x1, s[0]), y0 = std::min(y0, s[1]), y1 = std::max(y1, s[1]);
        }
        EXPECT_GE(x0, view.x);
        EXPECT_LE(x1, view.x + view.width);
        EXPECT_GE(y0, view.y);
        EXPECT_LE(y1, view.y + view.height);
        EXPECT_TRUE(x1 - x0 > 0.8 * view.width || y1 - y0 > 0.7 * view.height) << view.name;
    }
}

TEST(Views, TinyReportedPolygonFarAwayIsMarkedInEveryView) {
    Mesh m;
    // A large flat floor, and far off one corner a reported triangle a millionth of the floor's size.
    const std::uint32_t a = m.vertex(-10, 0, -10), b = m.vertex(10, 0, -10), c = m.vertex(10, 0, 10),
                        d = m.vertex(-10, 0, 10);
    m.polygon({a, b, c, d}, PolygonState::planar);
    const Point tiny = {-9, 6, -30};
    const std::uint32_t t0 = m.vertex(tiny[0], tiny[1], tiny[2]), t1 = m.vertex(tiny[0] + 2e-5, tiny[1], tiny[2]),
                        t2 = m.vertex(tiny[0], tiny[1] + 2e-5, tiny[2] + 1e-5);
    m.polygon({t0, t1, t2}, PolygonState::reported);
    const Object objects[] = {m.view()};
    const Picture picture;
    const Image image = decode_png(render_png(objects, picture));
    for (const ViewFrame& view : frame_views(objects, picture)) {
        SCOPED_TRACE(std::string(view.name));
        // A ring: plenty of red around the spot, none far from it.
        EXPECT_GE(count_near(image, view, tiny, 10, is_red_ring), 60);
        EXPECT_EQ(count_near(image, view, tiny, 30, is_red), count_near(image, view, tiny, 10, is_red));
    }
}

TEST(Views, DegeneratePolygonWithoutAreaIsMarked) {
    Mesh m;
    const std::uint32_t a = m.vertex(0, 0, 0), b = m.vertex(4, 0, 0), c = m.vertex(4, 4, 1), d = m.vertex(0, 4, 1);
    m.polygon({a, b, c, d}, PolygonState::planar);
    // Three corners on one line: no area in any view.
    const std::uint32_t e = m.vertex(1, 5, 2), f = m.vertex(2, 5, 2), g = m.vertex(3, 5, 2);
    m.polygon({e, f, g}, PolygonState::degenerate);
    const Object objects[] = {m.view()};
    const Picture picture;
    const Image image = decode_png(render_png(objects, picture));
    for (const ViewFrame& view : frame_views(objects, picture)) {
        SCOPED_TRACE(std::string(view.name));
        EXPECT_GE(count_near(image, view, {2, 5, 2}, 10, is_magenta), 60);
        EXPECT_EQ(count_near(image, view, {2, 5, 2}, 10, is_red), 0);
    }
}

TEST(Views, ConcavePolygonLeavesItsNotchEmpty) {
    // A U in the XY plane, open at the top: the notch is inside the hull but not the polygon.
    Mesh m;
    const std::uint32_t v[] = {m.vertex(0, 0, 0), m.vertex(3, 0, 0), m.vertex(3, 3, 0), m.vertex(2, 3, 0),
                               m.vertex(2, 1, 0), m.vertex(1, 1, 0), m.vertex(1, 3, 0), m.vertex(0, 3, 0)};
    m.polygon({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]}, PolygonState::planar);
    const Object objects[] = {m.view()};
    const Picture picture;
    const Image image = decode_png(render_png(objects, picture));
    const auto views = frame_views(objects, picture);
    for (const ViewFrame& view : {views[0], views[3]}) {  // the side and top views see it edge on
        SCOPED_TRACE(std::string(view.name));
        EXPECT_EQ(pixel_at(image, view, {1.5, 2.2, 0}), kViewBack);
        EXPECT_EQ(pixel_at(image, view, {1.5, 2.9, 0}), kViewBack);
        EXPECT_TRUE(is_grey(pixel_at(image, view, {0.5, 2.5, 0})));
        EXPECT_TRUE(is_grey(pixel_at(image, view, {2.5, 2.5, 0})));
        EXPECT_TRUE(is_grey(pixel_at(image, view, {1.5, 0.5, 0})));
    }
}

TEST(Views, NearerPolygonHidesFartherOne) {
    // Two parallel squares facing the front view, the reported one behind: the front view shows the grey
    // one over it, whichever order they come in, and the marker still shows where the hidden one is.
    for (bool reported_first : {true, false}) {
        Mesh m;
        auto square = [&](double z, PolygonState s) {
            const std::uint32_t a = m.vertex(0, 0, z), b = m.vertex(2, 0, z), c = m.vertex(2, 2, z),
                                d = m.vertex(0, 2, z);
            m.polygon({a, b, c, d}, s);
        };
        if (reported_first) square(-1, PolygonState::reported);
        square(1, PolygonState::planar);
        if (!reported_first) square(-1, PolygonState::reported);
        const Object objects[] = {m.view()};
        const Picture picture;
        const Image image = decode_png(render_png(objects, picture));
        const ViewFrame front = frame_views(objects, picture)[0];
        EXPECT_TRUE(is_grey(pixel_at(image, front, {1, 1, 0})));
        EXPECT_TRUE(is_grey(pixel_at(image, front, {0.3, 0.3, 0})));
        EXPECT_GE(count_near(image, front, {1, 1, 0}, 10, is_red_ring), 60);
    }
}

TEST(Views, SameInputSameBytes) {
    const RowOfQuads row;
    const Object objects[] = {row.mesh.view()};
    const Picture picture{1024, 1024, {"row.obj", "5 polygons, 1 non-planar"}};
    const std::vector<unsigned char> first = render_png(objects, picture);
    EXPECT_EQ(render_png(objects, picture), first);
    // No time stamp or other varying chunk: IHDR, PLTE, IDAT..., IEND only.
    const std::string bytes(first.begin(), first.end());
    EXPECT_EQ(bytes.find("tIME"), std::string::npos);
    EXPECT_EQ(bytes.find("tEXt"), std::string::npos);
}
