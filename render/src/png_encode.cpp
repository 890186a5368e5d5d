#include "png_encode.h"

#include <png.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace torvel::render::detail {

namespace {

// The sheet is flat colour areas and runs of one shade: no row filter. zlib's level 3 is its fastest
// strategy with a full match search; on the noisiest sheets (a 10^6-polygon grid) it takes a third of
// level 6's time for files a sixth larger (100 KB against 87 KB).
constexpr int kZlibLevel = 3;

struct Writer {
    std::vector<unsigned char>* out;
    char message[256];
};

void write_bytes(png_structp png, png_bytep data, png_size_t size) {
    auto* writer = static_cast<Writer*>(png_get_io_ptr(png));
    try {
        writer->out->insert(writer->out->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void flush_bytes(png_structp) {}

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
    auto* writer = static_cast<Writer*>(png_get_error_ptr(png));
    std::strncpy(writer->message, message, sizeof writer->message - 1);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Only trivially destructible objects live in this frame, so libpng's longjmp out of it skips nothing.
bool write_png(png_structp png, png_infop info, Writer* writer, const Canvas& canvas, const png_color* colours,
               png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, writer, write_bytes, flush_bytes);
    png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width), static_cast<png_uint_32>(canvas.height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colours, kPaletteSize);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, kZlibLevel);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::vector<unsigned char> encode_png(const Canvas& canvas) {
    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height) / 4);
    Writer writer{&out, {}};
    std::vector<png_bytep> rows(static_cast<std::size_t>(canvas.height));
    for (int y = 0; y < canvas.height; ++y) {
        rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(canvas.pixels.data()) +
                                            static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width);
    }
    png_color colours[kPaletteSize];
    for (int i = 0; i < kPaletteSize; ++i) {
        const Rgb& c = palette()[static_cast<std::size_t>(i)];
        colours[i] = {c[0], c[1], c[2]};
    }

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, on_error, on_warning);
    if (!png) throw std::runtime_error("render: cannot start the PNG writer");
    png_infop info = png_create_info_struct(png);
    const bool ok = info && write_png(png, info, &writer, canvas, colours, rows.data());
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok) throw std::runtime_error(std::string("render: PNG encoding failed: ") + writer.message);
    return out;
}

}  // namespace torvel::render::detail
