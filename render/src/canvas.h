// The sheet while it is drawn: one palette index per pixel. A palette keeps the sheet at a byte a pixel
// (the z-buffered views write a quarter of the memory RGB would) and makes an 8-bit PNG.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace torvel::render::detail {

// Palette layout: a few flat colours, then kShades shades of each polygon state's colour.
enum Colour : std::uint8_t {
    kSheetBack,
    kViewBack,
    kCaptionBack,
    kCaptionText,
    kLabelText,
    kOutlinePlanar,
    kOutlineReported,
    kOutlineDegenerate,
    kMarkerBorder,
    kMarkerReported,
    kMarkerDegenerate,
    kFirstShade = 16,
};
inline constexpr int kShades = 64;
inline constexpr int kPaletteSize = kFirstShade + 3 * kShades;

// Shade `level` (0: darkest, kShades - 1: fully lit) of a polygon in state `state` (PolygonState's value).
constexpr std::uint8_t shade(int state, int level) {
    return static_cast<std::uint8_t>(kFirstShade + state * kShades + level);
}
constexpr std::uint8_t outline_colour(int state) { return static_cast<std::uint8_t>(kOutlinePlanar + state); }
constexpr std::uint8_t marker_colour(int state) { return static_cast<std::uint8_t>(kMarkerReported + state - 1); }

using Rgb = std::array<std::uint8_t, 3>;
const std::array<Rgb, kPaletteSize>& palette();

struct Canvas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width * height palette indices

    Canvas(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {}
    std::uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width); }
    void fill(int x, int y, int w, int h, std::uint8_t colour);  // clipped to the sheet
};

}  // namespace torvel::render::detail
