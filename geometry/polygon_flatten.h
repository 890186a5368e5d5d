// Moving vertices so that bent polygons become flat, instead of cutting them (`torvel fix --flatten`).
//
// The vertices that may move are the corners of the target polygons; every other vertex stays. Each
// polygon with a movable corner (target or not) takes part: shared vertices couple polygons, so the
// movable vertices are grouped (two are in one group when a polygon has both) and each group is solved
// as a whole by a local-global projection: each polygon's corners are projected onto their best-fit
// plane (local), then the positions that best match those projections, up to each polygon's own
// translation, are found by one sparse least-squares solve (global), with each vertex drawn back to
// where it was by a weight that grows as its move shrinks (so few vertices move), and each move cut to
// the vertex's limit. A group ends when each of its polygons of 4+ corners has a bend (polygon_shape.h)
// of at most `aim` times the tolerance (a polygon that is not a target: at most that or its bend before,
// whichever is larger). Afterwards each move is undone, smallest first, wherever its polygons keep their
// aim without it.
//
// The bend is this library's measure, not a verdict: the program asks the plug-in about the moved
// polygons afterwards and undoes the moves of the corners of those it still reports (undo_corners), until
// it reports none with a moved corner.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "polygon_mesh.h"

namespace torvel::geometry {

struct FlattenLimit {
    double max = 0;      // the most a vertex may move; for `share`, a share of a polygon's diameter
    bool share = false;  // max * (the largest corner-to-corner distance of each target with the vertex)
};

struct FlattenOptions {
    double aim = 0.8;                     // the bend aimed at, a share of the tolerance (0 .. 1)
    std::uint32_t max_iterations = 1000;  // local-global rounds per group
};

struct VertexMove {
    std::uint32_t vertex = 0;
    std::array<double, 3> position{};  // where it moved to
    double distance = 0;               // how far, > 0 and at most the vertex's limit
    std::uint32_t group = 0;
};

struct FlattenResult {
    std::vector<std::uint32_t> targets;       // as given, ascending, each once
    std::vector<std::uint32_t> target_group;  // group of each target
    std::vector<VertexMove> moves;            // ascending vertex
    // Targets whose group ended without every polygon reaching its aim within the limits, ascending.
    std::vector<std::uint32_t> unreached;
    // The polygons with a moved corner and the targets, ascending: those to ask the plug-in about.
    std::vector<std::uint32_t> touched;

    double largest_move(const MeshView& mesh, std::uint32_t polygon) const;  // 0 when no corner moved
};

// Flattens the `targets` of `mesh` at `tolerance_degrees`. Throws GeometryError when the mesh arrays do
// not hold the polygons, a target is out of range or listed twice or out of order, the limit is negative
// or not finite, or the tolerance not within (0, 90].
FlattenResult flatten_polygons(const MeshView& mesh, std::span<const std::uint32_t> targets, double tolerance_degrees,
                               FlattenLimit limit, const FlattenOptions& options = {});

// Undoes the moves of every corner of `polygons`, and returns the touched polygons with a corner whose
// move was undone (to ask the plug-in about again), ascending.
std::vector<std::uint32_t> undo_corners(FlattenResult& result, const MeshView& mesh,
                                        std::span<const std::uint32_t> polygons);

// `positions` with the moves applied.
void apply_moves(std::span<double> positions, std::span<const VertexMove> moves);

}  // namespace torvel::geometry
