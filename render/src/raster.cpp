#include "raster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>

namespace torvel::render::detail {

namespace {

// A polygon at least this many pixels across both ways gets its outline.
constexpr float kOutlineSize = 6.0f;

// Marker rings: a band of the state's colour between two dark circles, with a hole that leaves the polygon
// itself in view. Rings of one state are kept kRingSpacing apart (the first drawn stays).
constexpr int kRingSide = 2 * kRingRadius + 1;
constexpr int kRingSpacing = 12;

// Pixels of a polygon's state colour within a ring's reach of its centre that make it plain to see.
constexpr int kShowsBy = 25;

// 0: untouched, 1: border, 2: colour.
constexpr std::array<std::uint8_t, kRingSide * kRingSide> make_ring() {
    std::array<std::uint8_t, kRingSide * kRingSide> mask{};
    for (int dy = -kRingRadius; dy <= kRingRadius; ++dy) {
        for (int dx = -kRingRadius; dx <= kRingRadius; ++dx) {
            const int r2 = 4 * (dx * dx + dy * dy);  // twice the radius, squared: half-pixel steps stay integers
            std::uint8_t v = 0;
            if (r2 >= 9 * 9 && r2 < 11 * 11) v = 1;
            if (r2 >= 11 * 11 && r2 < 17 * 17) v = 2;
            if (r2 >= 17 * 17 && r2 < 19 * 19) v = 1;
            mask[static_cast<std::size_t>((dy + kRingRadius) * kRingSide + dx + kRingRadius)] = v;
        }
    }
    return mask;
}
constexpr auto kRing = make_ring();

struct Bounds {
    float x0, x1, y0, y1;
    float cx, cy, cd;  // mean of the corners; NaN when a corner is not drawable
};

// Quads, the common case, get a loop the compiler unrolls into the caller's.
template <int N>
[[gnu::always_inline]] inline Bounds bounds_fixed(const ScreenVertex* v, const std::uint32_t* idx) {
    const ScreenVertex& a = v[idx[0]];
    Bounds b{a.x, a.x, a.y, a.y, a.x, a.y, a.d};
    for (int i = 1; i < N; ++i) {
        const ScreenVertex& c = v[idx[i]];
        b.x0 = std::min(b.x0, c.x), b.x1 = std::max(b.x1, c.x);
        b.y0 = std::min(b.y0, c.y), b.y1 = std::max(b.y1, c.y);
        b.cx += c.x, b.cy += c.y, b.cd += c.d;
    }
    constexpr float inv = 1.0f / N;
    b.cx *= inv, b.cy *= inv, b.cd *= inv;
    return b;
}

Bounds bounds_any(const ScreenVertex* v, const std::uint32_t* idx, std::uint32_t n) {
    const ScreenVertex& a = v[idx[0]];
    Bounds b{a.x, a.x, a.y, a.y, a.x, a.y, a.d};
    for (std::uint32_t i = 1; i < n; ++i) {
        const ScreenVertex& c = v[idx[i]];
        b.x0 = std::min(b.x0, c.x), b.x1 = std::max(b.x1, c.x);
        b.y0 = std::min(b.y0, c.y), b.y1 = std::max(b.y1, c.y);
        b.cx += c.x, b.cy += c.y, b.cd += c.d;
    }
    const float inv = 1.0f / static_cast<float>(n);
    b.cx *= inv, b.cy *= inv, b.cd *= inv;
    return b;
}

[[gnu::always_inline]] inline Bounds bounds_of(const ScreenVertex* v, const std::uint32_t* idx, std::uint32_t n) {
    return n == 4 ? bounds_fixed<4>(v, idx) : bounds_any(v, idx, n);
}

// Pixel index of a coordinate, kept inside [0, size): vertices are framed inside the view, and this keeps a
// rounding error at the border (or a degenerate frame) from reaching outside it.
int pixel_of(float v, int size) {
    const float c = std::clamp(v, 0.0f, static_cast<float>(size - 1));
    return static_cast<int>(c);
}

// First pixel whose centre is at or after v, on the same clamped terms.
int first_centre_at_or_after(float v, int size) {
    const float c = std::clamp(v - 0.5f, -1.0f, static_cast<float>(size));
    return static_cast<int>(std::ceil(c));
}

}  // namespace

void ViewRaster::begin_view(int x, int y, int width, int height) {
    x0_ = x, y0_ = y, width_ = width, height_ = height;
    depth_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                  std::numeric_limits<float>::infinity());
    cells_across_ = width / kRingSpacing + 1;
    rings_.assign(2 * static_cast<std::size_t>(cells_across_ * (height / kRingSpacing + 1)), 0);
    spots_.clear();
}

[[gnu::always_inline]] inline void ViewRaster::splat(float x, float y, float d, std::uint8_t colour) {
    const int px = pixel_of(x, width_), py = pixel_of(y, height_);
    float& z = depth_[static_cast<std::size_t>(py) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(px)];
    if (d < z) {
        z = d;
        canvas_.row(y0_ + py)[x0_ + px] = colour;
    }
}

void ViewRaster::fill_polygons(const ScreenMesh& mesh, std::vector<std::uint32_t>& outlined) {
    const ScreenVertex* v = mesh.vertices.data();
    const std::uint32_t* offsets = mesh.offsets.data();
    const std::size_t count = mesh.offsets.size() - 1;
    for (std::size_t p = 0; p < count; ++p) {
        const std::uint32_t begin = offsets[p], n = offsets[p + 1] - begin;
        if (n == 0) continue;
        const std::uint32_t* idx = mesh.indices.data() + begin;
        const Bounds b = bounds_of(v, idx, n);
        if (std::isnan(b.cx)) continue;
        const std::uint8_t colour = mesh.colours[p];
        Spot* spot = nullptr;
        if (mesh.states[p] != 0) {
            spots_.push_back({static_cast<std::uint16_t>(pixel_of(b.cx, width_)),
                              static_cast<std::uint16_t>(pixel_of(b.cy, height_)), mesh.states[p]});
            spot = &spots_.back();
        }
        const float w = b.x1 - b.x0, h = b.y1 - b.y0;
        // Most polygons of a large mesh are far below a pixel: one depth-tested write each.
        if (w <= 1.0f && h <= 1.0f) {
            splat(b.cx, b.cy, b.cd, colour);
            continue;
        }
        polygon_.clear();
        for (std::uint32_t i = 0; i < n; ++i) polygon_.push_back(v[idx[i]]);
        // A sliver between pixel centres still shows, as a splat would.
        if (fill(polygon_, colour, spot) == 0) splat(b.cx, b.cy, b.cd, colour);
        if (w >= kOutlineSize && h >= kOutlineSize) outlined.push_back(static_cast<std::uint32_t>(p));
    }
}

int ViewRaster::fill(std::span<const ScreenVertex> polygon, std::uint8_t colour, Spot* spot) {
    // Scanline conversion over an edge table: pixel centres inside by the even-odd rule, depth interpolated
    // along the edges and then across each span, which also gives bent polygons a sensible depth.
    edges_.clear();
    const std::size_t n = polygon.size();
    for (std::size_t i = 0; i < n; ++i) {
        ScreenVertex a = polygon[i], b = polygon[i + 1 == n ? 0 : i + 1];
        if (a.y == b.y) continue;
        if (a.y > b.y) std::swap(a, b);
        const int first = std::max(first_centre_at_or_after(a.y, height_), 0);
        const int last = std::min(first_centre_at_or_after(b.y, height_) - 1, height_ - 1);
        if (first > last) continue;
        const float dxdy = (b.x - a.x) / (b.y - a.y), dddy = (b.d - a.d) / (b.y - a.y);
        const float dy = static_cast<float>(first) + 0.5f - a.y;
        edges_.push_back({first, last, a.x + dy * dxdy, dxdy, a.d + dy * dddy, dddy});
    }
    if (edges_.size() < 2) return 0;
    std::sort(edges_.begin(), edges_.end(), [](const Edge& l, const Edge& r) { return l.first < r.first; });

    // The active edges are kept in x order from row to row. The edges of a simple outline never cross, so
    // the order barely changes and keeping it costs a pass per row, where sorting the crossings anew would
    // cost k log k for k crossings: a comb of 10^5 teeth stays linear in its crossings.
    const auto by_x = [](const Active& l, const Active& r) { return l.x < r.x; };
    int covered = 0, last_row = 0;
    // The marker goes on a pixel of the polygon: the mean of an L's or a U's corners lies outside it, where
    // the patch its ring would look at holds none of its colour. Then the widest span in the centre's row
    // (between the top and the bottom corner, so some span crosses it) is taken, the middle of an arm.
    bool spot_inside = false;
    Run in_row{0, -1}, widest{0, -1};
    int widest_row = 0;
    for (const Edge& e : edges_) last_row = std::max(last_row, e.last);
    active_.clear();
    std::size_t next = 0;
    for (int row = edges_.front().first; row <= last_row; ++row) {
        if (active_.empty() && next < edges_.size()) row = std::max(row, edges_[next].first);
        std::erase_if(active_, [&](const Active& a) { return edges_[a.edge].last < row; });
        for (Active& a : active_) {
            const Edge& e = edges_[a.edge];
            const auto t = static_cast<float>(row - e.first);
            a.x = e.x + t * e.dxdy, a.d = e.d + t * e.dddy;
        }
        keep_sorted(active_);
        if (next < edges_.size() && edges_[next].first == row) {
            entering_.clear();
            for (; next < edges_.size() && edges_[next].first == row; ++next)
                entering_.push_back({edges_[next].x, edges_[next].d, static_cast<std::uint32_t>(next)});
            std::sort(entering_.begin(), entering_.end(), by_x);
            merged_.clear();
            std::merge(active_.begin(), active_.end(), entering_.begin(), entering_.end(), std::back_inserter(merged_),
                       by_x);
            std::swap(active_, merged_);
        }
        for (std::size_t k = 0; k + 1 < active_.size(); k += 2) {
            const Run run = span(row, {active_[k].x, active_[k].d}, {active_[k + 1].x, active_[k + 1].d}, colour);
            if (run.from > run.to) continue;
            covered += run.to - run.from + 1;
            if (!spot) continue;
            if (row == spot->y) {
                spot_inside = spot_inside || (run.from <= spot->x && spot->x <= run.to);
                if (run.to - run.from > in_row.to - in_row.from) in_row = run;
            }
            if (run.to - run.from > widest.to - widest.from) widest = run, widest_row = row;
        }
        if (active_.empty() && next == edges_.size()) break;
    }
    if (spot && covered > 0 && !spot_inside) {
        // A row the polygon crosses under a pixel's height has no span: its widest row elsewhere, then.
        if (in_row.from > in_row.to) in_row = widest, spot->y = static_cast<std::uint16_t>(widest_row);
        spot->x = static_cast<std::uint16_t>(in_row.from + (in_row.to - in_row.from) / 2);
    }
    return covered;
}

void ViewRaster::keep_sorted(std::vector<Active>& edges) {
    // Insertion sort for the few swaps a simple outline needs; a self-crossing one that needs many more
    // is sorted outright.
    const std::size_t budget = 8 * edges.size() + 8;
    std::size_t moves = 0;
    for (std::size_t i = 1; i < edges.size(); ++i) {
        const Active a = edges[i];
        std::size_t j = i;
        for (; j > 0 && a.x < edges[j - 1].x; --j) edges[j] = edges[j - 1];
        edges[j] = a;
        moves += i - j;
        if (moves > budget) {
            std::sort(edges.begin(), edges.end(), [](const Active& l, const Active& r) { return l.x < r.x; });
            return;
        }
    }
}

ViewRaster::Run ViewRaster::span(int row, Crossing left, Crossing right, std::uint8_t colour) {
    const int from = std::max(first_centre_at_or_after(left.x, width_), 0);
    const int to = std::min(first_centre_at_or_after(right.x, width_) - 1, width_ - 1);
    if (from > to) return {from, to};
    const float slope = (right.d - left.d) / (right.x - left.x);
    float* z = depth_.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(width_);
    std::uint8_t* pixels = canvas_.row(y0_ + row) + x0_;
    for (int x = from; x <= to; ++x) {
        const float d = left.d + (static_cast<float>(x) + 0.5f - left.x) * slope;
        if (d < z[x]) {
            z[x] = d;
            pixels[x] = colour;
        }
    }
    return {from, to};
}

void ViewRaster::draw_outlines(const ScreenMesh& mesh, std::span<const std::uint32_t> outlined, float depth_slack) {
    for (std::uint32_t p : outlined) {
        const std::uint32_t begin = mesh.offsets[p], n = mesh.offsets[p + 1] - begin;
        const std::uint8_t colour = outline_colour(mesh.states[p]);
        for (std::uint32_t i = 0; i < n; ++i) {
            const ScreenVertex a = mesh.vertices[mesh.indices[begin + i]];
            const ScreenVertex b = mesh.vertices[mesh.indices[begin + (i + 1 == n ? 0 : i + 1)]];
            line(a, b, colour, depth_slack);
        }
    }
}

void ViewRaster::line(ScreenVertex a, ScreenVertex b, std::uint8_t colour, float depth_slack) {
    const float dx = b.x - a.x, dy = b.y - a.y, dd = b.d - a.d;
    const int steps = std::max(static_cast<int>(std::ceil(std::max(std::abs(dx), std::abs(dy)))), 1);
    const float step = 1.0f / static_cast<float>(steps);
    for (int i = 0; i <= steps; ++i) {
        const float t = static_cast<float>(i) * step;
        const int px = pixel_of(a.x + t * dx, width_), py = pixel_of(a.y + t * dy, height_);
        const float z =
            depth_[static_cast<std::size_t>(py) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(px)];
        if (a.d + t * dd - depth_slack <= z) canvas_.row(y0_ + py)[x0_ + px] = colour;
    }
}

inline std::size_t ViewRaster::ring_cell(int x, int y, int state) const {
    return static_cast<std::size_t>(((state - 1) * (height_ / kRingSpacing + 1) + y / kRingSpacing) * cells_across_ +
                                    x / kRingSpacing);
}

bool ViewRaster::ring_near(int x, int y, int state) const {
    // Cells are as wide as the spacing, so any ring closer than that is in one of the nine around.
    const int cx = x / kRingSpacing, cy = y / kRingSpacing;
    for (int j = std::max(cy - 1, 0); j <= std::min(cy + 1, height_ / kRingSpacing); ++j) {
        for (int i = std::max(cx - 1, 0); i <= std::min(cx + 1, cells_across_ - 1); ++i) {
            const std::uint32_t at = rings_[ring_cell(i * kRingSpacing, j * kRingSpacing, state)];
            if (at == 0) continue;
            const int dx = static_cast<int>((at - 1) >> 16) - x, dy = static_cast<int>((at - 1) & 0xffff) - y;
            if (dx * dx + dy * dy < kRingSpacing * kRingSpacing) return true;
        }
    }
    return false;
}

void ViewRaster::draw_markers() {
    const std::size_t across = static_cast<std::size_t>(width_) + 1;
    for (std::uint8_t state = 1; state <= 2; ++state) {
        if (std::none_of(spots_.begin(), spots_.end(), [&](const Spot& s) { return s.state == state; })) continue;
        // Summed-area table of the pixels in this state's shades, before any ring is drawn.
        const std::uint8_t lo = shade(state, 0), hi = shade(state, kShades - 1);
        summed_.assign(across * (static_cast<std::size_t>(height_) + 1), 0);
        for (int y = 0; y < height_; ++y) {
            const std::uint8_t* pixels = canvas_.row(y0_ + y) + x0_;
            std::uint32_t* above = summed_.data() + static_cast<std::size_t>(y) * across;
            std::uint32_t* row = above + across;
            std::uint32_t run = 0;
            for (int x = 0; x < width_; ++x) {
                run += pixels[x] >= lo && pixels[x] <= hi;
                row[x + 1] = above[x + 1] + run;
            }
        }
        auto count = [&](int x0, int y0, int x1, int y1) {  // pixels in [x0, x1) x [y0, y1)
            const auto at = [&](int x, int y) {
                return summed_[static_cast<std::size_t>(y) * across + static_cast<std::size_t>(x)];
            };
            return at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0);
        };
        for (const Spot& s : spots_) {
            if (s.state != state) continue;
            const int cx = s.x, cy = s.y;
            const std::uint32_t shown =
                count(std::max(cx - kRingRadius, 0), std::max(cy - kRingRadius, 0),
                      std::min(cx + kRingRadius + 1, width_), std::min(cy + kRingRadius + 1, height_));
            if (shown >= kShowsBy || ring_near(cx, cy, state)) continue;
            rings_[ring_cell(cx, cy, state)] =
                (static_cast<std::uint32_t>(cx) << 16 | static_cast<std::uint32_t>(cy)) + 1;
            draw_ring(canvas_, x0_ + cx, y0_ + cy, {x0_, y0_, x0_ + width_, y0_ + height_}, marker_colour(state));
        }
    }
}

void draw_ring(Canvas& canvas, int cx, int cy, const std::array<int, 4>& clip, std::uint8_t colour) {
    const int x0 = std::max(clip[0], 0), y0 = std::max(clip[1], 0);
    const int x1 = std::min(clip[2], canvas.width), y1 = std::min(clip[3], canvas.height);
    for (int dy = -kRingRadius; dy <= kRingRadius; ++dy) {
        const int y = cy + dy;
        if (y < y0 || y >= y1) continue;
        std::uint8_t* pixels = canvas.row(y);
        const std::uint8_t* mask = kRing.data() + (dy + kRingRadius) * kRingSide + kRingRadius;
        for (int dx = std::max(-kRingRadius, x0 - cx); dx <= std::min(kRingRadius, x1 - 1 - cx); ++dx) {
            if (mask[dx]) pixels[cx + dx] = mask[dx] == 1 ? std::uint8_t{kMarkerBorder} : colour;
        }
    }
}

}  // namespace torvel::render::detail
