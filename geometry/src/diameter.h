// The largest distance between two of a set of points.
#pragma once

#include <span>

#include "vec3.h"

namespace torvel::geometry::detail {

// Exact (the largest of the computed point-to-point distances) for up to kExactDiameterCorners points:
// branch and bound over a k-d tree, started from a double-normal estimate. Typically O(n log n); points
// spread evenly on a circle or sphere, where many pairs come close to the maximum, cost about O(n^1.5).
// Above that count: the exact diameter of one point per cell of a grid fine enough that the result is a
// point-to-point distance at most 0.1% short of the largest.
double diameter(std::span<const Vec3> points);

// The exact branch and bound alone, for any count (tests compare it with brute force).
double exact_diameter(std::span<const Vec3> points);

}  // namespace torvel::geometry::detail
