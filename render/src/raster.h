// One view's drawing: polygons with a z-buffer, outlines, markers. Everything is in view-local pixels;
// the view's rectangle on the sheet is where it writes and all it writes.
#pragma once

#include <array>
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

// Marker rings reach this far from their centre.
inline constexpr int kRingRadius = 9;

// A marker ring centred on sheet pixel (cx, cy), clipped to [clip[0], clip[2]) x [clip[1], clip[3]).
void draw_ring(Canvas& canvas, int cx, int cy, const std::array<int, 4>& clip, std::uint8_t colour);

class ViewRaster {
public:
    explicit ViewRaster(Canvas& canvas) : canvas_(canvas) {}

    // Starts a view covering [x, x + width) x [y, y + height) of the canvas, which must contain it. The
    // buffers of the previous view are reused: fresh pages cost more than the drawing on this machine.
    void begin_view(int x, int y, int width, int height);

    // Fills every polygon of `mesh`: those under a pixel across are splatted onto the pixel of their centre,
    // the others scan-converted (even-odd, so concave and self-crossing outlines fill as drawn). Polygons
    // large enough for an outline are appended to `outlined`; reported and degenerate ones are kept for
    // draw_markers at a pixel inside them: their centre, or where the centre is outside (an L, a U) the
    // middle of their widest row.
    void fill_polygons(const ScreenMesh& mesh, std::vector<std::uint32_t>& outlined);

    // Outlines of the listed polygons: their own edges, hidden where the z-buffer holds something nearer
    // than `depth_slack` in front of the edge.
    void draw_outlines(const ScreenMesh& mesh, std::span<const std::uint32_t> outlined, float depth_slack);

    // A ring around the pixel kept for each reported or degenerate polygon by fill_polygons when the
    // polygon does not show by itself: too small, hidden, or seen edge on, so that its state's colour
    // covers less than a small patch around that pixel. Drawn over everything; rings of one state closer than a ring's
    // width are drawn once.
    void draw_markers();

private:
    struct Edge {
        int first, last;         // rows whose centres the edge crosses
        float x, dxdy, d, dddy;  // at the centre of row `first`
    };
    struct Crossing {
        float x, d;
    };
    struct Active {
        float x, d;  // where the edge crosses the current row
        std::uint32_t edge;
    };
    struct Spot {
        std::uint16_t x, y;  // the pixel marked for the polygon
        std::uint8_t state;
    };
    struct Run {
        int from, to;  // the pixels of a row a span covers; none when from > to
    };

    void splat(float x, float y, float d, std::uint8_t colour);
    int fill(std::span<const ScreenVertex> polygon, std::uint8_t colour, Spot* spot);
    Run span(int row, Crossing left, Crossing right, std::uint8_t colour);
    static void keep_sorted(std::vector<Active>& edges);
    void line(ScreenVertex a, ScreenVertex b, std::uint8_t colour, float depth_slack);
    std::size_t ring_cell(int x, int y, int state) const;
    bool ring_near(int x, int y, int state) const;

    Canvas& canvas_;
    int x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;
    std::vector<float> depth_;
    // Scratch reused from polygon to polygon.
    std::vector<ScreenVertex> polygon_;
    std::vector<Edge> edges_;
    std::vector<Active> active_, entering_, merged_;
    std::vector<Spot> spots_;
    std::vector<std::uint32_t> summed_;  // summed-area table of one state's colours
    int cells_across_ = 0;
    std::vector<std::uint32_t> rings_;  // per state and cell: the ring drawn there, (x << 16 | y) + 1, or 0
};

}  // namespace torvel::render::detail
