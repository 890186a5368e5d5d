// A built-in 5x7 bitmap font (printable ASCII, with descenders) for the caption and the view labels.
#pragma once

#include <string>
#include <string_view>

#include "canvas.h"

namespace torvel::render::detail {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphRows = 9;  // 7 above the baseline, 2 for descenders
inline constexpr int kAdvance = 6;    // glyph plus one column of space
inline constexpr int kLineHeight = 11;

// `text` (UTF-8) as the characters the font draws: printable ASCII kept, a tab made a space, every other
// character (a whole multi-byte sequence, or one stray byte of invalid UTF-8) made '?'.
std::string printable_ascii(std::string_view text);

// Draws printable_ascii(text) with its top-left corner at (x, y), each font pixel `scale` sheet pixels
// wide, clipped to the columns before `right` and to the sheet. A line too long for the room ends in "...".
void draw_text(Canvas& canvas, int x, int y, std::string_view text, int scale, std::uint8_t colour, int right);

}  // namespace torvel::render::detail
