// Pictures of meshes whose polygons have been classified: one PNG sheet with four views (front, side, top
// and a three-quarter perspective) and a caption band, for `torvel check --image`.
//
// The caller owns the meshes and says what each polygon is (planar, reported by the filter, degenerate);
// nothing here judges a polygon, it only shows the state it is given. Spans are read during the call only.
// The same input always gives the same bytes. Bad input never crashes: non-finite coordinates leave their
// polygons out of the picture; malformed arrays (offsets, indices, states that disagree) throw
// std::invalid_argument naming the object and polygon at fault.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "polygon_mesh.h"

namespace torvel::render {

enum class PolygonState : std::uint8_t { planar, reported, degenerate };

// One object: its mesh (Y up), polygon i drawn as states[i]. Empty offsets, or offsets {0}, means an
// object without polygons.
struct Object {
    torvel::MeshView mesh;
    std::span<const PolygonState> states;
};

inline constexpr int kMinSize = 64;
inline constexpr int kMaxSize = 8192;

struct Picture {
    int width = 1024, height = 1024;   // kMinSize..kMaxSize each, else std::invalid_argument
    std::vector<std::string> caption;  // UTF-8 lines, top down; ASCII is drawn, anything else shows as '?'.
                                       // Lines past a quarter of the height are left out, long lines cut.
};

// The camera of one view: a world point p becomes q = rows * (p * prescale - centre), in units of the
// bounding sphere's radius; orthographic views put q at (offset_x + scale * q.x, offset_y - scale * q.y),
// the perspective one divides q.x and q.y by (distance - q.z) first. Pixels are view-local.
struct Camera {
    double prescale = 1;  // a power of two: exact, and keeps the largest coordinate below 1
    std::array<double, 3> centre{};
    std::array<std::array<double, 3>, 3> rows{};  // right, up, towards the eye; each of length 1 / radius
    double distance = 0;                          // eye distance in radii; 0 for an orthographic view
    double scale = 1, offset_x = 0, offset_y = 0;
};

// Where one view sits on the sheet.
struct ViewFrame {
    std::string_view name;                    // "front", "side", "top", "perspective"
    int x = 0, y = 0, width = 0, height = 0;  // the view's rectangle on the sheet
    Camera camera;

    // The sheet position of a world point: pixel (i, j) covers [i, i + 1) x [j, j + 1). Empty for a point
    // that is not finite. Every finite vertex of the framed objects lands inside the rectangle.
    std::optional<std::array<double, 2>> to_sheet(double x, double y, double z) const;
};

// The four views framed on every finite vertex of `objects` and laid out on `picture`, as render_png and
// render_rgba draw them: front (looking down -Z), side (from +X), top (from +Y), perspective; left to
// right, top to bottom. Reads the positions only. Throws std::invalid_argument for a size out of range.
std::array<ViewFrame, 4> frame_views(std::span<const Object> objects, const Picture& picture);

struct Sheet {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4, row by row, opaque
    std::array<ViewFrame, 4> views;
};

// The picture as pixels.
Sheet render_rgba(std::span<const Object> objects, const Picture& picture);

// The picture as a PNG file's bytes (8-bit palette, no time stamp).
std::vector<unsigned char> render_png(std::span<const Object> objects, const Picture& picture);

}  // namespace torvel::render
