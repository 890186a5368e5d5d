#include "render_test_util.h"

#include <png.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <stdexcept>

namespace rendertest {

Image decode_png(const std::vector<unsigned char>& png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size()))
        throw std::runtime_error(std::string("not a PNG: ") + image.message);
    image.format = PNG_FORMAT_RGBA;
    Image out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        const std::string message = image.message;
        png_image_free(&image);
        throw std::runtime_error("bad PNG data: " + message);
    }
    return out;
}

std::uint32_t Mesh::vertex(double x, double y, double z) {
    positions.insert(positions.end(), {x, y, z});
    return static_cast<std::uint32_t>(positions.size() / 3 - 1);
}

void Mesh::polygon(std::initializer_list<std::uint32_t> corners, torvel::render::PolygonState state) {
    indices.insert(indices.end(), corners);
    offsets.push_back(static_cast<std::uint32_t>(indices.size()));
    states.push_back(state);
}

bool is_red(Rgba c) { return c.r > 60 && c.r > 2 * c.g + 20 && c.r > 2 * c.b + 20; }
bool is_grey(Rgba c) { return c.r > 60 && std::abs(c.r - c.g) < 8 && std::abs(c.g - c.b) < 8; }
bool is_red_ring(Rgba c) { return c == Rgba{255, 48, 48, 255}; }

Mesh cylinder(std::vector<std::array<double, 3>>* bent) {
    using torvel::render::PolygonState;
    constexpr int kSides = 16, kRings = 6;
    constexpr double kHeight = 2.4;
    const auto at = [](int ring, double side, double radius) {
        const double t = 2 * std::numbers::pi * side / kSides;
        return std::array<double, 3>{radius * std::cos(t), kHeight * ring / kRings - kHeight / 2,
                                     -radius * std::sin(t)};
    };
    Mesh m;
    std::vector<std::uint32_t> grid;
    for (int r = 0; r <= kRings; ++r) {
        for (int s = 0; s < kSides; ++s) {
            const auto p = at(r, s, 1);
            grid.push_back(m.vertex(p[0], p[1], p[2]));
        }
    }
    const auto id = [&](int r, int s) { return grid[static_cast<std::size_t>(r * kSides + s % kSides)]; };
    for (int r = 0; r < kRings; ++r) {
        for (int s = 0; s < kSides; ++s) {
            std::uint32_t a = id(r, s), b = id(r, s + 1), c = id(r + 1, s + 1), d = id(r + 1, s);
            PolygonState state = PolygonState::planar;
            if ((r == 2 && s == 1) || (r == 4 && s == 5) || (r == 1 && s == 12) || (r == 3 && s == 3)) {
                const auto out = at(r + 1, s + 1, 1.25);
                c = m.vertex(out[0], out[1], out[2]);
                state = PolygonState::reported;
                if (bent) {
                    const auto p0 = at(r, s, 1), p1 = at(r, s + 1, 1), p3 = at(r + 1, s, 1);
                    bent->push_back({(p0[0] + p1[0] + out[0] + p3[0]) / 4, (p0[1] + p1[1] + out[1] + p3[1]) / 4,
                                     (p0[2] + p1[2] + out[2] + p3[2]) / 4});
                }
            }
            if (r == 5 && s == 9) c = b, d = a, state = PolygonState::degenerate;
            m.polygon({a, b, c, d}, state);
        }
    }
    m.indices.insert(m.indices.end(), grid.end() - kSides, grid.end());  // top cap, counter-clockwise from above
    m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    m.states.push_back(PolygonState::planar);
    for (int s = kSides - 1; s >= 0; --s) m.indices.push_back(id(0, s));
    m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    m.states.push_back(PolygonState::planar);
    return m;
}

bool is_magenta(Rgba c) { return c.r > 60 && c.b > 60 && c.r > 2 * c.g + 20 && c.b > 2 * c.g + 20; }

}  // namespace rendertest
