// Units outside the plug-in (which keeps its own constant: it knows only the SDK).
#pragma once

#include <numbers>

namespace torvel {

inline constexpr double kDegreesToRadians = std::numbers::pi / 180.0;

}  // namespace torvel
