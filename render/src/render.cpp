#include "render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "canvas.h"
#include "font.h"
#include "huge_pages.h"
#include "png_encode.h"
#include "raster.h"
#include "uninitialized.h"

namespace torvel::render {

namespace {

using detail::Canvas;
using detail::ScreenVertex;
using torvel::reserve_huge;
using torvel::UninitializedVector;
using Vec3 = std::array<double, 3>;

constexpr Vec3 operator*(const Vec3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
constexpr Vec3 operator+(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
constexpr Vec3 operator-(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
constexpr double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
constexpr Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3 normalised(const Vec3& a) { return a * (1.0 / std::sqrt(dot(a, a))); }

// ---------------------------------------------------------------------------------------------------
// Input checks

[[noreturn]] void bad_input(std::size_t object, const std::string& what) {
    throw std::invalid_argument("render: object " + std::to_string(object) + ": " + what);
}

std::size_t polygon_count(const Object& m) { return m.mesh.polygon_count(); }

void check(std::span<const Object> objects) {
    for (std::size_t o = 0; o < objects.size(); ++o) {
        const Object& m = objects[o];
        if (m.mesh.positions.size() % 3 != 0)
            bad_input(o, std::to_string(m.mesh.positions.size()) + " position values, not three per vertex");
        const std::size_t polygons = polygon_count(m), vertices = m.mesh.positions.size() / 3;
        if (m.states.size() != polygons)
            bad_input(o, std::to_string(m.states.size()) + " states for " + std::to_string(polygons) + " polygons");
        if (polygons == 0) continue;
        if (m.mesh.offsets[0] != 0) bad_input(o, "offsets start at " + std::to_string(m.mesh.offsets[0]) + ", not 0");
        for (std::size_t p = 0; p < polygons; ++p) {
            if (m.mesh.offsets[p + 1] < m.mesh.offsets[p])
                bad_input(o, "polygon " + std::to_string(p) + ": offsets run backwards");
            if (static_cast<std::uint8_t>(m.states[p]) > static_cast<std::uint8_t>(PolygonState::degenerate))
                bad_input(o, "polygon " + std::to_string(p) + ": unknown state " +
                                 std::to_string(static_cast<int>(m.states[p])));
        }
        if (m.mesh.offsets.back() > m.mesh.indices.size())
            bad_input(o, "offsets reach index " + std::to_string(m.mesh.offsets.back()) + " of " +
                             std::to_string(m.mesh.indices.size()));
        for (std::size_t i = 0; i < m.mesh.offsets.back(); ++i) {
            if (m.mesh.indices[i] < vertices) continue;
            const auto p = static_cast<std::size_t>(std::upper_bound(m.mesh.offsets.begin(), m.mesh.offsets.end(), i) -
                                                    m.mesh.offsets.begin() - 1);
            bad_input(o, "polygon " + std::to_string(p) + ": vertex index " + std::to_string(m.mesh.indices[i]) +
                             " out of range (" + std::to_string(vertices) + " vertices)");
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Layout

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

struct Layout {
    int text_scale = 1;
    int caption_lines = 0;
    Rect caption;
    std::array<Rect, 4> views;
};

Layout lay_out(const Picture& picture) {
    if (picture.width < kMinSize || picture.width > kMaxSize || picture.height < kMinSize ||
        picture.height > kMaxSize) {
        throw std::invalid_argument("render: picture size " + std::to_string(picture.width) + "x" +
                                    std::to_string(picture.height) + " is outside " + std::to_string(kMinSize) +
                                    " to " + std::to_string(kMaxSize));
    }
    Layout l;
    const int w = picture.width, h = picture.height;
    l.text_scale = (w >= 768 && h >= 768) ? 2 : 1;
    const int line = detail::kLineHeight * l.text_scale, pad = 4 * l.text_scale;
    // The band holds the caption and, on its last line, the legend; none of it when not even that fits.
    const int room = std::max((h / 4 - 2 * pad) / line, 0);
    l.caption_lines =
        static_cast<int>(std::min(picture.caption.size(), static_cast<std::size_t>(std::max(room - 1, 0))));
    const int band = room > 0 ? (l.caption_lines + 1) * line + 2 * pad : 0;
    l.caption = {0, 0, w, band};
    // 2x2 cells below the caption, each view inset by a pixel so that the sheet's colour frames them.
    const int left = w / 2, upper = (h - band) / 2;
    const std::array<Rect, 4> cells = {Rect{0, band, left, upper}, Rect{left, band, w - left, upper},
                                       Rect{0, band + upper, left, h - band - upper},
                                       Rect{left, band + upper, w - left, h - band - upper}};
    for (std::size_t i = 0; i < 4; ++i) {
        const Rect& c = cells[i];
        l.views[i] = {c.x + 1, c.y + 1, c.width - 2, c.height - 2};
    }
    return l;
}

// ---------------------------------------------------------------------------------------------------
// Cameras

constexpr double kDegree = std::numbers::pi / 180;

struct ViewAxes {
    std::string_view name, label;
    Vec3 right, up, back;  // back: from the subject towards the eye
    bool perspective;
};

// Three-quarter view: from the front right, above; azimuth 35 degrees, elevation 25 degrees.
ViewAxes perspective_axes() {
    const double az = 35.0 * kDegree, el = 25.0 * kDegree;
    const Vec3 back = {std::sin(az) * std::cos(el), std::sin(el), std::cos(az) * std::cos(el)};
    const Vec3 right = normalised(cross({0, 1, 0}, back));
    return {"perspective", "perspective", right, cross(back, right), back, true};
}

const std::array<ViewAxes, 4>& view_axes() {
    static const std::array<ViewAxes, 4> axes = {
        ViewAxes{"front", "front (x, y)", {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, false},
        ViewAxes{"side", "side (-z, y)", {0, 0, -1}, {0, 1, 0}, {1, 0, 0}, false},
        ViewAxes{"top", "top (x, -z)", {1, 0, 0}, {0, 0, -1}, {0, 1, 0}, false},
        perspective_axes(),
    };
    return axes;
}

// Half the field of view of the perspective camera.
constexpr double kHalfFov = 15.0 * kDegree;

// Light from the upper left, in front, in each camera's own axes: every view is lit alike.
constexpr Vec3 kLight = {-0.35, 0.5, 0.8};

struct Projected {
    double x, y, d;
};

Projected project(const Camera& c, double px, double py, double pz) {
    const Vec3 q = {px * c.prescale - c.centre[0], py * c.prescale - c.centre[1], pz * c.prescale - c.centre[2]};
    const double x = dot(c.rows[0], q), y = dot(c.rows[1], q), z = dot(c.rows[2], q);
    if (c.distance > 0) {
        const double w = 1 / (c.distance - z);
        return {c.offset_x + c.scale * x * w, c.offset_y - c.scale * y * w, -w};
    }
    return {c.offset_x + c.scale * x, c.offset_y - c.scale * y, -z};
}

struct Box {
    Vec3 lo{}, hi{};
    bool empty = true;
};

Box bounds(std::span<const Object> objects) {
    Box b;
    b.lo.fill(std::numeric_limits<double>::infinity());
    b.hi.fill(-std::numeric_limits<double>::infinity());
    for (const Object& m : objects) {
        const double* p = m.mesh.positions.data();
        for (std::size_t i = 0; i + 2 < m.mesh.positions.size(); i += 3) {
            if (!std::isfinite(p[i]) || !std::isfinite(p[i + 1]) || !std::isfinite(p[i + 2])) continue;
            for (int k = 0; k < 3; ++k) {
                b.lo[k] = std::min(b.lo[k], p[i + k]);
                b.hi[k] = std::max(b.hi[k], p[i + k]);
            }
            b.empty = false;
        }
    }
    return b;
}

// Frames the box in `rect` (view-local) as seen by `axes`.
Camera frame(const Box& box, const ViewAxes& axes, const Rect& area) {
    Camera c;
    Vec3 half{};
    if (!box.empty) {
        double largest = 0;
        for (int k = 0; k < 3; ++k) largest = std::max({largest, std::abs(box.lo[k]), std::abs(box.hi[k])});
        // A power of two scales exactly; it brings every coordinate below 1 so that nothing overflows.
        if (largest > 0) c.prescale = std::ldexp(1.0, std::clamp(-std::ilogb(largest) - 1, -1000, 1000));
        for (int k = 0; k < 3; ++k) {
            const double lo = box.lo[k] * c.prescale, hi = box.hi[k] * c.prescale;
            c.centre[k] = lo * 0.5 + hi * 0.5;
            half[k] = hi * 0.5 - lo * 0.5;
        }
    }
    double radius = std::sqrt(dot(half, half));
    if (!(radius > 1e-300)) radius = 1;  // a single point (or nothing): any scale frames it
    for (int k = 0; k < 3; ++k) half[k] /= radius;
    c.rows = {axes.right * (1 / radius), axes.up * (1 / radius), axes.back * (1 / radius)};
    if (axes.perspective) c.distance = 1 / std::sin(kHalfFov);

    // Fit the box's eight corners, projected, into the area; the whole box lands inside.
    double x0 = std::numeric_limits<double>::infinity(), x1 = -x0, y0 = x0, y1 = -x0;
    const Camera unit = [&] {
        Camera u = c;
        u.prescale = 1, u.centre = {}, u.scale = 1, u.offset_x = 0, u.offset_y = 0;
        u.rows = {axes.right, axes.up, axes.back};
        return u;
    }();
    for (int corner = 0; corner < 8; ++corner) {
        const Projected p = project(unit, (corner & 1 ? half[0] : -half[0]), (corner & 2 ? half[1] : -half[1]),
                                    (corner & 4 ? half[2] : -half[2]));
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, -p.y), y1 = std::max(y1, -p.y);
    }
    const double room_x = area.width, room_y = area.height;
    double scale = std::numeric_limits<double>::infinity();
    if (x1 - x0 > 1e-12) scale = std::min(scale, room_x / (x1 - x0));
    if (y1 - y0 > 1e-12) scale = std::min(scale, room_y / (y1 - y0));
    if (!std::isfinite(scale)) scale = 1;
    c.scale = scale;
    c.offset_x = area.x + room_x / 2 - scale * (x0 + x1) / 2;
    c.offset_y = area.y + room_y / 2 + scale * (y0 + y1) / 2;
    return c;
}

// Where the views may put geometry: inside a margin, and below the label.
Rect framing_area(const Rect& view, int text_scale) {
    const int margin = std::max(2, static_cast<int>(std::lround(0.04 * std::min(view.width, view.height))));
    const int top = std::max(margin, (3 + 7 + 3) * text_scale);
    Rect a{margin, top, view.width - 2 * margin, view.height - top - margin};
    if (a.width < 4 || a.height < 4) a = {0, 0, view.width, view.height};
    return a;
}

std::array<ViewFrame, 4> frames_for(std::span<const Object> objects, const Layout& layout) {
    const Box box = bounds(objects);
    std::array<ViewFrame, 4> frames;
    for (std::size_t v = 0; v < 4; ++v) {
        const Rect& r = layout.views[v];
        frames[v].name = view_axes()[v].name;
        frames[v].x = r.x, frames[v].y = r.y, frames[v].width = r.width, frames[v].height = r.height;
        frames[v].camera = frame(box, view_axes()[v], framing_area(r, layout.text_scale));
    }
    return frames;
}

// ---------------------------------------------------------------------------------------------------
// Drawing

// Shade level of every polygon in every view (views one after the other): the light's angle to the
// polygon's Newell normal, either side lit alike.
using Colours = UninitializedVector<std::uint8_t>;

Colours polygon_colours(std::span<const Object> objects, std::size_t polygons, const std::array<ViewFrame, 4>& frames) {
    std::array<Vec3, 4> light;
    for (std::size_t v = 0; v < 4; ++v) {
        const ViewAxes& s = view_axes()[v];
        light[v] = normalised(s.right * kLight[0] + s.up * kLight[1] + s.back * kLight[2]);
    }
    const double k = frames[0].camera.prescale;
    constexpr int kTop = detail::kShades - 1;
    Colours colours;  // every entry written below
    reserve_huge(colours, 4 * polygons);
    colours.resize(4 * polygons);
    std::size_t g = 0;
    for (const Object& m : objects) {
        const double* pos = m.mesh.positions.data();
        for (std::size_t p = 0; p < polygon_count(m); ++p, ++g) {
            const std::uint32_t begin = m.mesh.offsets[p], n = m.mesh.offsets[p + 1] - begin;
            const std::uint32_t* idx = m.mesh.indices.data() + begin;
            // Prescaled, then taken relative to the first corner: no difference overflows, and the products
            // stay small next to the coordinates of a polygon far from the origin.
            const double* a = pos + 3 * std::size_t{idx[0]};
            auto corner = [&](std::uint32_t i) {
                const double* c = pos + 3 * std::size_t{idx[i]};
                return Vec3{c[0] * k - a[0] * k, c[1] * k - a[1] * k, c[2] * k - a[2] * k};
            };
            Vec3 normal{};
            if (n == 4) {
                normal = cross(corner(2), corner(3) - corner(1));  // the diagonals: Newell's normal of a quad
            } else if (n >= 3) {
                Vec3 prev{};
                for (std::uint32_t i = 1; i <= n; ++i) {
                    const Vec3 cur = i == n ? Vec3{} : corner(i);
                    normal[0] += (prev[1] - cur[1]) * (prev[2] + cur[2]);
                    normal[1] += (prev[2] - cur[2]) * (prev[0] + cur[0]);
                    normal[2] += (prev[0] - cur[0]) * (prev[1] + cur[1]);
                    prev = cur;
                }
            }
            const double length = std::sqrt(dot(normal, normal));
            const int state = static_cast<int>(m.states[p]);
            // No normal to light (a point, a line): a middle shade.
            const bool lit = length > 0 && std::isfinite(length);
            const double to_level = lit ? kTop / length : 0;
            for (std::size_t v = 0; v < 4; ++v) {
                const int level =
                    lit ? static_cast<int>(std::abs(dot(normal, light[v])) * to_level + 0.5) : kTop * 2 / 3;
                colours[v * polygons + g] = detail::shade(state, std::min(level, kTop));
            }
        }
    }
    return colours;
}

void project_vertices(const Camera& c, std::span<const double> positions, ScreenVertex* out) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double* p = positions.data();
    const std::size_t n = positions.size() / 3;
    const double k = c.prescale, s = c.scale, ox = c.offset_x, oy = c.offset_y;
    const auto& r = c.rows;
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const double qx = p[0] * k - c.centre[0], qy = p[1] * k - c.centre[1], qz = p[2] * k - c.centre[2];
        const double x = r[0][0] * qx + r[0][1] * qy + r[0][2] * qz;
        const double y = r[1][0] * qx + r[1][1] * qy + r[1][2] * qz;
        const double z = r[2][0] * qx + r[2][1] * qy + r[2][2] * qz;
        // Every coordinate enters every product, so a coordinate that is not finite leaves this sum not finite.
        if (!std::isfinite(x + y + z)) {
            out[i] = {nan, nan, nan};
        } else if (c.distance > 0) {
            const double w = 1 / (c.distance - z);
            out[i] = {static_cast<float>(ox + s * x * w), static_cast<float>(oy - s * y * w), static_cast<float>(-w)};
        } else {
            out[i] = {static_cast<float>(ox + s * x), static_cast<float>(oy - s * y), static_cast<float>(-z)};
        }
    }
}

// How far in front of the nearest surface an outline may be hidden: about 2 % of the bounding radius.
float depth_slack(const Camera& c) {
    if (c.distance == 0) return 0.02f;
    const double near = c.distance - 1;
    return static_cast<float>(0.02 / (near * near));
}

// One line naming the colours and the rings, as far as it fits before `right`.
void draw_legend(Canvas& canvas, int x, int y, int s, int right) {
    const int box = 7 * s, space = detail::kAdvance * s;
    auto label = [&](std::string_view text) {
        detail::draw_text(canvas, x, y, text, s, detail::kLabelText, right);
        x += static_cast<int>(text.size()) * space + 3 * space;
    };
    constexpr int kLit = detail::kShades * 4 / 5;
    for (const auto& [state, text] : {std::pair{0, "planar"}, {1, "non-planar"}, {2, "degenerate"}}) {
        if (x + box >= right) return;
        canvas.fill(x, y, box, box, detail::shade(state, kLit));
        x += box + space;
        label(text);
    }
    // The ring as the views draw it, when the line is tall enough for one.
    const int r = detail::kRingRadius;
    if (detail::kLineHeight * s < 2 * r + 1) return label("(rings: too small or hidden to see)");
    if (x + 2 * r >= right) return;
    detail::draw_ring(canvas, x + r, y + box / 2, {x, y + box / 2 - r, right, y + box / 2 + r + 1},
                      detail::kMarkerReported);
    x += 2 * r + 1 + space;
    label("too small or hidden to see");
}

struct Drawn {
    Canvas canvas;
    std::array<ViewFrame, 4> frames;
};

Drawn draw(std::span<const Object> objects, const Picture& picture) {
    const Layout layout = lay_out(picture);
    check(objects);
    Drawn out{Canvas(picture.width, picture.height), frames_for(objects, layout)};
    Canvas& canvas = out.canvas;
    std::fill(canvas.pixels.begin(), canvas.pixels.end(), detail::kSheetBack);

    std::size_t polygons = 0, vertices = 0;
    std::vector<std::size_t> first_vertex;
    for (const Object& m : objects) {
        first_vertex.push_back(vertices);
        polygons += polygon_count(m);
        vertices += m.mesh.positions.size() / 3;
    }
    const Colours colours = polygon_colours(objects, polygons, out.frames);
    // Written in full for every object with polygons before it is read; the others are never read.
    UninitializedVector<ScreenVertex> screen;
    reserve_huge(screen, vertices);
    screen.resize(vertices);
    std::vector<std::vector<std::uint32_t>> outlined(objects.size());
    detail::ViewRaster raster(canvas);

    for (std::size_t v = 0; v < 4; ++v) {
        const ViewFrame& f = out.frames[v];
        canvas.fill(f.x, f.y, f.width, f.height, detail::kViewBack);
        raster.begin_view(f.x, f.y, f.width, f.height);
        std::vector<detail::ScreenMesh> meshes;
        std::size_t g = 0;
        for (std::size_t o = 0; o < objects.size(); ++o) {
            const Object& m = objects[o];
            const std::size_t n = polygon_count(m);
            if (n > 0) {
                project_vertices(f.camera, m.mesh.positions, screen.data() + first_vertex[o]);
                meshes.push_back({std::span(screen).subspan(first_vertex[o], m.mesh.positions.size() / 3),
                                  m.mesh.offsets,
                                  m.mesh.indices,
                                  {reinterpret_cast<const std::uint8_t*>(m.states.data()), n},
                                  std::span(colours).subspan(v * polygons + g, n)});
            } else {
                meshes.push_back({});
            }
            g += n;
        }
        for (std::size_t o = 0; o < meshes.size(); ++o) {
            outlined[o].clear();
            if (!meshes[o].offsets.empty()) raster.fill_polygons(meshes[o], outlined[o]);
        }
        const float slack = depth_slack(f.camera);
        for (std::size_t o = 0; o < meshes.size(); ++o) {
            if (!meshes[o].offsets.empty()) raster.draw_outlines(meshes[o], outlined[o], slack);
        }
        raster.draw_markers();
        const int s = layout.text_scale;
        detail::draw_text(canvas, f.x + 3 * s, f.y + 3 * s, view_axes()[v].label, s, detail::kLabelText, f.x + f.width);
    }

    const Rect& band = layout.caption;
    if (band.height > 0) {
        canvas.fill(band.x, band.y, band.width, band.height, detail::kCaptionBack);
        const int s = layout.text_scale, line = detail::kLineHeight * s, pad = 4 * s;
        for (int i = 0; i < layout.caption_lines; ++i) {
            detail::draw_text(canvas, pad, pad + i * line, picture.caption[static_cast<std::size_t>(i)], s,
                              detail::kCaptionText, band.width - pad);
        }
        draw_legend(canvas, pad, pad + layout.caption_lines * line, s, band.width - pad);
    }
    return out;
}

}  // namespace

namespace detail {

const std::array<Rgb, kPaletteSize>& palette() {
    static const std::array<Rgb, kPaletteSize> colours = [] {
        std::array<Rgb, kPaletteSize> p{};
        p[kSheetBack] = {20, 22, 26};
        p[kViewBack] = {46, 50, 58};
        p[kCaptionBack] = {20, 22, 26};
        p[kCaptionText] = {236, 236, 236};
        p[kLabelText] = {165, 175, 190};
        p[kOutlinePlanar] = {30, 30, 32};
        p[kOutlineReported] = {80, 0, 0};
        p[kOutlineDegenerate] = {70, 0, 80};
        p[kMarkerBorder] = {10, 10, 10};
        p[kMarkerReported] = {255, 48, 48};
        p[kMarkerDegenerate] = {255, 80, 255};
        const std::array<std::array<double, 3>, 3> base = {{{215, 215, 215}, {235, 40, 32}, {225, 60, 235}}};
        for (int state = 0; state < 3; ++state) {
            for (int level = 0; level < kShades; ++level) {
                const double f = 0.3 + 0.7 * level / (kShades - 1);
                Rgb& c = p[shade(state, level)];
                for (std::size_t k = 0; k < 3; ++k)
                    c[k] = static_cast<std::uint8_t>(std::lround(base[static_cast<std::size_t>(state)][k] * f));
            }
        }
        return p;
    }();
    return colours;
}

void Canvas::fill(int x, int y, int w, int h, std::uint8_t colour) {
    const int x0 = std::max(x, 0), x1 = std::min(x + w, width), y0 = std::max(y, 0), y1 = std::min(y + h, height);
    for (int r = y0; r < y1; ++r) std::fill(row(r) + x0, row(r) + std::max(x1, x0), colour);
}

}  // namespace detail

std::optional<std::array<double, 2>> ViewFrame::to_sheet(double px, double py, double pz) const {
    if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(pz)) return std::nullopt;
    const Projected p = project(camera, px, py, pz);
    return std::array<double, 2>{x + p.x, y + p.y};
}

std::array<ViewFrame, 4> frame_views(std::span<const Object> objects, const Picture& picture) {
    return frames_for(objects, lay_out(picture));
}

Sheet render_rgba(std::span<const Object> objects, const Picture& picture) {
    const Drawn d = draw(objects, picture);
    Sheet sheet{d.canvas.width, d.canvas.height, std::vector<std::uint8_t>(d.canvas.pixels.size() * 4), d.frames};
    const auto& colours = detail::palette();
    for (std::size_t i = 0; i < d.canvas.pixels.size(); ++i) {
        const detail::Rgb& c = colours[d.canvas.pixels[i]];
        sheet.rgba[4 * i] = c[0], sheet.rgba[4 * i + 1] = c[1], sheet.rgba[4 * i + 2] = c[2],
                       sheet.rgba[4 * i + 3] = 255;
    }
    return sheet;
}

std::vector<unsigned char> render_png(std::span<const Object> objects, const Picture& picture) {
    return detail::encode_png(draw(objects, picture).canvas);
}

}  // namespace torvel::render
