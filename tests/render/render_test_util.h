// Test helpers: a PNG read back with libpng into RGBA pixels, meshes built by hand, colour classes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

namespace rendertest {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba&) const = default;
};

struct Image {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;
    Rgba at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

// Decodes `png`; throws std::runtime_error with libpng's message when it is not a valid PNG.
Image decode_png(const std::vector<unsigned char>& png);

// A mesh owned by the test, with the view render() takes.
struct Mesh {
    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> indices;
    std::vector<torvel::render::PolygonState> states;

    std::uint32_t vertex(double x, double y, double z);
    void polygon(std::initializer_list<std::uint32_t> corners, torvel::render::PolygonState state);
    torvel::render::Object view() const { return {{positions, offsets, indices}, states}; }
};

// Colour classes, as a viewer would name them.
bool is_red(Rgba c);       // a reported polygon or its marker
bool is_grey(Rgba c);      // a planar polygon, lit
bool is_magenta(Rgba c);   // a degenerate polygon or its marker
bool is_red_ring(Rgba c);  // a reported polygon's marker, not its fill

// A closed cylinder along Y (radius 1, height 2.4, 16 sides, 6 rings of quads, 16-gon caps). Four side quads
// have their upper-right corner pushed out on a vertex of their own (reported); one collapses onto its lower
// edge (degenerate). `bent` gets the centres of the four reported quads in mesh order, their cells
// (ring, side) being (1, 12), (2, 1), (3, 3) and (4, 5).
Mesh cylinder(std::vector<std::array<double, 3>>* bent = nullptr);

}  // namespace rendertest
