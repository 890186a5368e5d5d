// Splitting a bent polygon along diagonals into planar pieces (used by `torvel fix`).
//
// A piece is acceptable at a tolerance DEG when it has 3 corners not on one line (a triangle with an
// area), or when it is not degenerate and its bend (polygon_shape.h) is below DEG. The program asks the plug-in about
// the pieces afterwards; nothing here is a verdict on planarity.
//
// Diagonals are taken as seen along the polygon's Newell normal: the corners are projected onto the plane
// perpendicular to it, and a diagonal is usable when it runs strictly inside that outline (it touches no
// edge or corner other than its own two ends). So pieces never overlap or flip, each keeps the polygon's
// winding, and together they cover the polygon exactly. Each piece lists corner indices of the polygon
// (0 .. n-1) ascending, which is the polygon's order starting at its lowest corner.
//
// split_polygon finds, among all splits along non-crossing usable diagonals, one with the fewest
// acceptable pieces; among those, the least worst piece bend (bends within 1e-7 degrees count as
// equal); among those, the shortest total length of the new diagonals.
//
// How: a dynamic program over the sub-polygons cut off by one diagonal. Each is solved by walking the
// chain of corners of the piece that owns the cut, every step an edge or a diagonal whose own
// sub-polygon is solved the same way (memoized). A piece is acceptable when every 4 consecutive corners
// are (two neighbouring corner normals), so a walk state is its last three corners plus its second
// corner (needed for the runs of 4 through the cut). Pruning, none of which can lose the best split:
// - a budget of pieces, raised from a lower bound until a split fits (iterative deepening), and at
//   every step a lower bound on the pieces still needed: each run of 4 consecutive corners that is not
//   acceptable needs a diagonal end on one of its two middle corners, and a diagonal has two ends;
// - two pieces that could be merged into one acceptable piece never both occur in a split with the
//   fewest pieces, so a diagonal between two flat stretches of the outline is only tried where the
//   pieces on both sides cannot simply be joined;
// - the usable-diagonal test is cached (O(n) per diagonal; nothing to test for a convex outline).
// The worst bend is ranked first; a second pass with that bend as a limit then picks the shortest
// diagonals.
//
// Complexity: polynomial, O(n^7) time in the worst case (O(n^2) sub-polygons, each walk up to O(n^4)
// states of O(n) moves) for each budget tried, O(n^2) memory plus the walks' states. The bounds leave
// little to try in polygons bent along a few lines: a 1000-corner polygon folded once or twice takes
// some 5 to 10 million search steps (about 0.1 to 0.2 s, Release build). Polygons bent all over into many
// small pieces are the costly case; SplitOptions::max_work caps the search (the count is deterministic,
// not a time). The work of each budget is measured, and the next budget's foretold from the last two
// (it grows about geometrically while no split fits), so a search foretold to need more than is left
// stops at once instead of using up the rest: a 1,000-corner polygon with noise all over stops after
// two budgets.
//
// Beyond the budget, the fallback: a dynamic program over the usable diagonals as for the shortest
// triangulation (each sub-polygon i..j from a triangle i, k, j and the sub-polygons i..k and k..j), in
// which the triangle may also join the piece on the cut of either sub-polygon, or both, when the joined
// piece stays acceptable (only its runs of 4 through i, k and j are new, so each join is checked in
// constant time); among equal counts the first found is kept. Afterwards two pieces either side of a
// diagonal are joined wherever the joined piece is acceptable. O(n^3) time (about 0.7 s at 1,000
// corners, Release build), O(n^2) memory (16 bytes per pair of corners; up to 8192 corners: a larger
// polygon beyond the budget fails with a reason). Every triangulation is among its splits, so it always
// ends with at most n - 2 pieces, and it never has fewer than the search would find (generated polygons
// of 8 to 37 corners: 4% more pieces in all). Its count is proven the fewest
// (SplitResult::fewest) when the search had already ruled out every smaller one. Its count also caps
// the budgets of a search whose cost is in doubt, which may bring the end within reach.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace torvel::geometry {

struct SplitOptions {
    std::uint32_t max_corners = 2048;     // larger polygons fail with a reason
    std::uint64_t max_work = 20'000'000;  // search steps before the fallback (some 0.3 to 0.6 s, Release build)
};

struct SplitResult {
    bool ok = false;
    std::string reason;  // why no split exists ("zero-length edge at corner 3", ...); empty when ok

    // The pieces: piece k uses corners[offsets[k] .. offsets[k+1]).
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> corners;
    double worst_bend = 0;       // degrees: the largest bend of a piece of 4+ corners, 0 if none
    double diagonal_length = 0;  // total length of the new diagonals, in the positions' units
    // split_polygon: the piece count is proven the fewest (the search ended within its budget, or the
    // fallback's count meets what the search had ruled out). False for triangulate_polygon.
    bool fewest = false;

    std::size_t piece_count() const { return offsets.size() - 1; }
    std::span<const std::uint32_t> piece(std::size_t k) const {
        return std::span<const std::uint32_t>(corners).subspan(offsets[k], offsets[k + 1] - offsets[k]);
    }
};

// Splits the polygon with these corner positions (x, y, z per corner, in order) at tolerance
// `tolerance_degrees`. A polygon of 4+ corners that is acceptable as it stands comes back as one piece
// at once; anything else is checked first and fails (ok false, with a reason, no pieces) for: fewer than
// 3 corners, a value count not a multiple of 3, a non-finite coordinate, a zero-length edge, two corners
// at one position, a zero Newell normal, an outline that crosses or touches itself as seen along the
// normal, more than max_corners corners, or a NaN tolerance. Otherwise it ends with pieces (the search's,
// or beyond its budget the fallback's), and fails only when no split into acceptable pieces exists
// (triangles with an area included), or beyond the budget for a polygon of more than 8192 corners.
SplitResult split_polygon(std::span<const double> corner_positions, double tolerance_degrees,
                          const SplitOptions& options = {});

// Splits the polygon into triangles with an area along usable diagonals (as above), with the shortest
// total length of diagonals. O(n^3) time, O(n^2) memory. Fails for the same malformed inputs as
// split_polygon, and when no such triangulation exists.
SplitResult triangulate_polygon(std::span<const double> corner_positions, const SplitOptions& options = {});

}  // namespace torvel::geometry
