// Angle units for everything outside the plug-in (tests, benchmarks, the program). The plug-in keeps its
// own constant: it sees only the SDK.
#pragma once

#include <numbers>

namespace torvel {

// Degrees times this are radians.
inline constexpr double kDegreesToRadians = std::numbers::pi / 180;

}  // namespace torvel
