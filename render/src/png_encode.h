// The sheet as an 8-bit palette PNG, through libpng, with fixed settings and no time stamp, so the same
// sheet always gives the same bytes. Throws std::runtime_error when libpng fails (out of memory).
#pragma once

#include <vector>

#include "canvas.h"

namespace torvel::render::detail {

std::vector<unsigned char> encode_png(const Canvas& canvas);

}  // namespace torvel::render::detail
