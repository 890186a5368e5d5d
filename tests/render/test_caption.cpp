// The caption band: text as the built-in font can draw it, room taken from the views, lines that do not
// fit left out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "font.h"
#include "render_test_util.h"
#include "render.h"

using namespace torvel::render;
using namespace rendertest;

TEST(Caption, OnlyPrintableAsciiIsDrawn) {
    using detail::printable_ascii;
    EXPECT_EQ(printable_ascii("grid_1000.obj: 3 of 10 polygons non-planar at 45"),
              "grid_1000.obj: 3 of 10 polygons non-planar at 45");
    EXPECT_EQ(printable_ascii("at 45\xc2\xb0"), "at 45?");                 // one character, one '?'
    EXPECT_EQ(printable_ascii("\xe6\x97\xa5\xe6\x9c\xac.obj"), "??.obj");  // three-byte characters
    EXPECT_EQ(printable_ascii("\xf0\x9f\x98\x80!"), "?!");                 // four bytes
    EXPECT_EQ(printable_ascii("a\xff"
                              "b\xc3"),
              "a?b?");  // stray and cut-short bytes
    EXPECT_EQ(printable_ascii("\xe6\x97"
                              "x"),
              "?x");  // a sequence cut short by ASCII
    EXPECT_EQ(printable_ascii("tab\there\r\n"), "tab here??");
}

TEST(Caption, NonAsciiDrawsAsQuestionMarks) {
    const Picture utf8{400, 300, {"caf\xc3\xa9.obj at 45\xc2\xb0"}};
    const Picture ascii{400, 300, {"caf?.obj at 45?"}};
    const Picture other{400, 300, {"cafe.obj at 45?"}};
    EXPECT_EQ(render_png({}, utf8), render_png({}, ascii));
    EXPECT_NE(render_png({}, utf8), render_png({}, other));
}

TEST(Caption, BandGrowsWithLinesUpToAQuarter) {
    const auto top_of_views = [](std::size_t lines, int height) {
        const Picture p{1024, height, std::vector<std::string>(lines, "line")};
        return frame_views({}, p)[0].y;
    };
    // The band always has the legend, unless the sheet is too small for even that.
    EXPECT_GT(top_of_views(0, 1024), 20);
    EXPECT_EQ(frame_views({}, Picture{64, 64, {"no room"}})[0].y, 1);
    EXPECT_GT(top_of_views(1, 1024), top_of_views(0, 1024));
    EXPECT_GT(top_of_views(3, 1024), top_of_views(2, 1024));
    EXPECT_LE(top_of_views(1000, 1024), 1024 / 4 + 1);
    EXPECT_EQ(top_of_views(1000, 1024), top_of_views(2000, 1024));

    // Text pixels appear in the band, and only light ones on its dark ground.
    const Picture p{1024, 1024, {"torvel check: mixed.obj", std::string(500, 'W')}};
    const Image image = decode_png(render_png({}, p));
    const int band = frame_views({}, p)[0].y - 1;
    int text = 0;
    for (int y = 0; y < band; ++y)
        for (int x = 0; x < image.width; ++x) text += image.at(x, y).r > 200;
    EXPECT_GT(text, 500);
    // The long line is cut at the sheet's edge, not wrapped into the views.
    for (int x = 0; x < image.width; ++x) EXPECT_LT(image.at(x, band + 2).r, 200);
}
