#include "font.h"

#include <algorithm>
#include <cstdint>

namespace torvel::render::detail {

namespace {

// Glyphs for ' ' to '~', 9 rows each, one byte a row as two hex digits; bit 4 is the leftmost column.
constexpr char kGlyphHex[] =
    "0000000000000000000404040404000400000a0a000000000000000a0a1f0a1f0a0a0000040f140e051e040000"   //   ! " # $
    "1819020408130300000c12140815120d0000040400000000000000020408080804020000080402020204080000"   // % & ' ( )
    "0004150e15040000000004041f040400000000000000000c0408000000001f000000000000000000000c0c0000"   // * + , - .
    "0001020408100000000e11131519110e0000040c040404040e00000e11010204081f00001f02040201110e0000"   // / 0 1 2 3
    "02060a121f020200001f101e0101110e00000608101e11110e00001f01020408080800000e11110e11110e0000"   // 4 5 6 7 8
    "0e11110f01020c0000000c0c000c0c000000000c0c000c0c04080002040810080402000000001f001f00000000"   // 9 : ; < =
    "0804020102040800000e11010204000400000e11010d15150e00000e1111111f111100001e11111e11111e0000"   // > ? @ A B
    "0e11101010110e00001c12111111121c00001f10101e10101f00001f10101e10101000000e11101711110f0000"   // C D E F G
    "1111111f11111100000e04040404040e00000702020202120c00001112141814121100001010101010101f0000"   // H I J K L
    "111b151511111100001111191513111100000e11111111110e00001e11111e10101000000e11111115120d0000"   // M N O P Q
    "1e11111e14121100000f10100e01011e00001f04040404040400001111111111110e000011111111110a040000"   // R S T U V
    "1111111515150a000011110a040a111100001111110a04040400001f01020408101f00000e08080808080e0000"   // W X Y Z [
    "0010080402010000000e02020202020e0000040a11000000000000000000000000001f00080400000000000000"   // \ ] ^ _ `
    "00000e010f110f00001010161911111e000000000e1010110e000001010d1311110f000000000e111f100e0000"   // a b c d e
    "0609081c080808000000000f1111130d010e10101619111111000004000c0404040e000002000602020202120c"   // f g h i j
    "1010121418141200000c04040404040e000000001a15151515000000001619111111000000000e1111110e0000"   // k l m n o
    "00001e11111916101000000f1111130d010100001619101010000000000f100e011e000008081c080809060000"   // p q r s t
    "0000111111130d000000001111110a0400000000111115150a00000000110a040a1100000000111111130d010e"   // u v w x y
    "00001f0204081f0000020404080404020000040404040404040000080404020404080000000008150200000000";  // z { | } ~
static_assert(sizeof kGlyphHex - 1 == 95 * kGlyphRows * 2);

constexpr int hex_digit(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

constexpr std::uint8_t glyph_row(char c, int row) {
    const int at = ((c - ' ') * kGlyphRows + row) * 2;
    return static_cast<std::uint8_t>(hex_digit(kGlyphHex[at]) * 16 + hex_digit(kGlyphHex[at + 1]));
}
static_assert(glyph_row('A', 4) == 0x1f && glyph_row('g', 8) == 0x0e && glyph_row(' ', 0) == 0);

// Length of the UTF-8 sequence a lead byte opens; 0 for a byte that cannot open one.
int sequence_length(unsigned char b) {
    if (b >= 0xc2 && b <= 0xdf) return 2;
    if (b >= 0xe0 && b <= 0xef) return 3;
    if (b >= 0xf0 && b <= 0xf4) return 4;
    return 0;
}

void draw_glyph(Canvas& canvas, int x, int y, char c, int scale, std::uint8_t colour, int right) {
    for (int row = 0; row < kGlyphRows; ++row) {
        const std::uint8_t bits = glyph_row(c, row);
        if (bits == 0) continue;
        for (int col = 0; col < kGlyphWidth; ++col) {
            if (!(bits & (0x10 >> col))) continue;
            const int px = x + col * scale, py = y + row * scale;
            for (int sy = py; sy < py + scale; ++sy) {
                if (sy < 0 || sy >= canvas.height) continue;
                std::uint8_t* line = canvas.row(sy);
                for (int sx = std::max(px, 0); sx < std::min({px + scale, right, canvas.width}); ++sx)
                    line[sx] = colour;
            }
        }
    }
}

}  // namespace

std::string printable_ascii(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x20 && b < 0x7f) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        if (b == '\t') {
            out += ' ';
            ++i;
            continue;
        }
        out += '?';
        // A sequence, or the part of one before it breaks off, is one character; a byte that cannot start
        // one is a character of its own.
        const int n = sequence_length(b);
        int k = 1;
        while (k < n && i + static_cast<std::size_t>(k) < text.size() &&
               (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0xc0) == 0x80)
            ++k;
        i += static_cast<std::size_t>(k);
    }
    return out;
}

void draw_text(Canvas& canvas, int x, int y, std::string_view text, int scale, std::uint8_t colour, int right) {
    std::string line = printable_ascii(text);
    const int advance = kAdvance * scale;
    const int room = advance > 0 ? (right - x + scale) / advance : 0;  // the last glyph needs no space after it
    if (room <= 0) return;
    if (static_cast<int>(line.size()) > room) {
        line.resize(static_cast<std::size_t>(std::max(room - 3, 0)));
        line.append(static_cast<std::size_t>(std::min(room, 3)), '.');
    }
    for (char c : line) {
        if (c != ' ') draw_glyph(canvas, x, y, c, scale, colour, right);
        x += advance;
    }
}

}  // namespace torvel::render::detail
