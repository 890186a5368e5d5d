// Exact orientation of three points in the plane (adaptive: a fast filtered determinant, exact
// expansion arithmetic when the filter cannot decide). Exact for any finite inputs whose products do not
// overflow.
#pragma once

namespace torvel::geometry::detail {

struct Point2 {
    double x = 0, y = 0;
};

// +1 when c lies left of the directed line a -> b (a, b, c counterclockwise), -1 right, 0 on it.
int orient(Point2 a, Point2 b, Point2 c);

}  // namespace torvel::geometry::detail
