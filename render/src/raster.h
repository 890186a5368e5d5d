// One view's drawing: polygons with a z-buffer, outlines, markers. Everything is in view-local pixels;
// the view's rectangle on the sheet is where it writes and all it writes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "canvas.h"

namespace torvel::render::detail {

// A projected vertex. d is the depth: smaller is nearer, and affine in x and y over a plane, so it is
// interpolated linearly on screen. x is NaN for a vertex that cannot be drawn (a non-finite coordinate).
struct ScreenVertex {
    float x, y, d;
};

// One object's polygons as the rasteriser sees them: vertices already projected for this view.
struct ScreenMesh {
    std::span<const ScreenVertex> vertices;
    std::span<const std::uint32_t> offsets;  // at least one entry
    std::span<const std::uint32_t> indices;
    std::span<const std::uint8_t> states;   // PolygonState values
    std::span<const std::uint8_t> colours;  // palette index of each polygon in this view
};

class ViewRaster {
public:
    // The view covers [x, x + width) x [y, y + height) of `canvas`, which must contain it.
    ViewRaster(Canvas& canvas, int x, int y, int width, int height);

    // Fills every polygon of `mesh`: those under a pixel across are splatted onto the pixel of their centre,
    // the others scan-converted (even-odd, so concave and self-crossing outlines fill as drawn). Polygons
    // large enough for an outline are appended to `outlined`.
    void fill_polygons(const ScreenMesh& mesh, std::vector<std::uint32_t>& outlined);

    // Outlines of the listed polygons: their own edges, hidden where the z-buffer holds something nearer
    // than `depth_slack` in front of the edge.
    void draw_outlines(const ScreenMesh& mesh, std::span<const std::uint32_t> outlined, float depth_slack);

    // A ring around the centre of every reported or degenerate polygon, over everything else, so that a
    // polygon of any size can be found. Rings of one state closer than a ring's width are drawn once.
    void draw_markers(const ScreenMesh& mesh);

private:
    struct Edge {
        int first, last;         // rows whose centres the edge crosses
        float x, dxdy, d, dddy;  // at the centre of row `first`
    };
    struct Crossing {
        float x, d;
    };

    void splat(float x, float y, float d, std::uint8_t colour);
    int fill(std::span<const ScreenVertex> polygon, std::uint8_t colour);
    void span(int row, Crossing left, Crossing right, std::uint8_t colour, int& covered);
    void line(ScreenVertex a, ScreenVertex b, std::uint8_t colour, float depth_slack);
    void ring(int cx, int cy, std::uint8_t colour);

    Canvas& canvas_;
    int x0_, y0_, width_, height_;
    std::vector<float> depth_;
    // Scratch reused from polygon to polygon.
    std::vector<ScreenVertex> polygon_;
    std::vector<Edge> edges_;
    std::vector<std::uint32_t> active_;
    std::vector<Crossing> crossings_;
    std::vector<std::uint8_t> marked_;  // per marker cell: bit s set once a ring of state s is there
};

}  // namespace torvel::render::detail
