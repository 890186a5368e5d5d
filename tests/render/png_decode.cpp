#include "png_decode.h"

#include <png.h>

#include <cstdlib>
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
bool is_magenta(Rgba c) { return c.r > 60 && c.b > 60 && c.r > 2 * c.g + 20 && c.b > 2 * c.g + 20; }

}  // namespace rendertest
