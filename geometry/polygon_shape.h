// Describing how a polygon is bent: the measures behind `torvel check --details` and the bend histogram.
//
// These describe; they never decide. Whether a polygon is non-planar is the plug-in's verdict alone. The
// bend is defined so that the plug-in's filter reports a polygon of 4+ corners at tolerance T exactly when
// it is degenerate or its bend is T or more (up to rounding near T).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "polygon_mesh.h"

namespace torvel::geometry {

// Malformed mesh arrays or corner lists; the message names the array, polygon or corner at fault.
class GeometryError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

enum class DegenerateCause {
    zero_length_edge,  // the corner's incoming or outgoing edge joins two equal positions
    collinear,         // the corner and its two neighbours lie on one line
};
std::string_view cause_text(DegenerateCause cause);  // "zero-length edge", "collinear"

// The first corner (index within the polygon) whose corner normal is exactly zero.
struct Degenerate {
    std::uint32_t corner = 0;
    DegenerateCause cause = DegenerateCause::collinear;
};

struct PolygonShape {
    std::uint32_t corners = 0;
    // Largest angle, in degrees (0 to 90), between the normals of two neighbouring corners taken as lines
    // (sign ignored). The corner normal at k is (p[k] - p[k-1]) x (p[k+1] - p[k]); all cyclic pairs.
    // 0 for polygons of 3 or fewer corners; empty when the polygon is degenerate.
    std::optional<double> bend = 0.0;
    // Set for a polygon of 4+ corners with a zero corner normal.
    std::optional<Degenerate> degenerate;
    // Largest distance of a corner from the plane through the corners' centroid perpendicular to the Newell
    // normal, divided by the largest corner-to-corner distance. Scale-free. Empty when the Newell normal
    // or that distance is zero. The distance is exact for polygons of up to kExactDiameterCorners corners;
    // above, it is a corner-to-corner distance at most 0.1% short of the largest (out_of_plane at most
    // 0.1% high).
    std::optional<double> out_of_plane;
};

inline constexpr std::size_t kExactDiameterCorners = 16384;

// One polygon from its corner positions in order (x, y, z per corner). Throws GeometryError when the
// count of values is not a multiple of 3. A non-finite coordinate gives a NaN bend (4+ corners) and no
// out_of_plane.
PolygonShape describe_polygon(std::span<const double> corner_positions);

// The corner positions of polygon `polygon` of `mesh`, x, y, z per corner. Throws GeometryError naming
// the polygon and the offending offset or vertex index when the arrays do not hold it.
std::vector<double> polygon_corners(const torvel::MeshView& mesh, std::uint32_t polygon);

// describe_polygon for each listed polygon, in the order given. Throws GeometryError (see polygon_corners).
std::vector<PolygonShape> describe_mesh(const torvel::MeshView& mesh, std::span<const std::uint32_t> polygons);

// --- nearly collinear corners and the distance from the plane (the findings' own rules) ---

// The relative epsilon of "nearly collinear" and "flat": 1e-5 of the polygon's size. Coordinates that went
// through a float, a 7-digit text format or a placement transform are off by about 1e-7 to 1e-6 of the
// model's size; a corner that close to the line of its neighbours has a corner normal whose direction is
// that rounding noise, which gives any bend up to 90 degrees.
inline constexpr double kNearlyCollinear = 1e-5;

// A corner of a polygon of 4+ corners whose edges are collinear to within `epsilon`: the height of the end
// of its shorter edge above the line of its longer one, |(p[k] - p[k-1]) x (p[k+1] - p[k])| divided by the
// longer edge's length, is at most epsilon times the diagonal of the polygon's bounding box.
struct CollinearCorner {
    std::uint32_t corner = 0;
    bool exact = false;  // the corner normal is exactly zero (the corner PolygonShape::degenerate names)
    double height = 0;   // that height divided by the diagonal; 0 when exact
};

// The first corner with an exactly zero corner normal when there is one, else the nearly collinear corner
// of smallest height (the first of equal ones). Empty for polygons of 3 or fewer corners, for a zero
// diagonal (every corner at one point: exact at corner 0), a non-finite coordinate, and when no corner is
// within epsilon. Throws GeometryError when the count of values is not a multiple of 3.
std::optional<CollinearCorner> nearly_collinear_corner(std::span<const double> corner_positions,
                                                       double epsilon = kNearlyCollinear);

// The largest distance, in model units, of a corner from the polygon's best-fit plane: the plane through
// the corners' centroid perpendicular to the Newell normal (the plane PolygonShape::out_of_plane measures
// against; that value is this one divided by the largest corner-to-corner distance). Empty when the Newell
// normal is zero or a coordinate is not finite. Throws GeometryError as describe_polygon.
std::optional<double> plane_distance(std::span<const double> corner_positions);

struct PlaneDistance {
    std::uint32_t polygon = 0;
    double distance = 0;  // plane_distance, > the limit asked for
};

// The polygons of 4+ corners of `mesh` whose plane_distance exceeds `max_distance` (>= 0), ascending.
// Polygons without a plane_distance are left out. Throws GeometryError (see polygon_corners).
std::vector<PlaneDistance> out_of_plane_polygons(const torvel::MeshView& mesh, double max_distance);

// Band edges of the bend histogram, in degrees.
inline constexpr std::array<double, 8> kBendBandEdges{0, 1, 2, 5, 10, 20, 45, 90};

struct BendHistogram {
    // bands[k]: polygons of 4+ corners with kBendBandEdges[k] <= bend < kBendBandEdges[k+1]; the last band
    // also holds bends of exactly 90.
    std::array<std::uint64_t, kBendBandEdges.size() - 1> bands{};
    std::uint64_t degenerate = 0;  // polygons of 4+ corners with a zero corner normal
    std::uint64_t at_90 = 0;       // of bands.back(), those bent by 90 degrees (or more, through rounding)
    std::uint64_t small = 0;       // polygons of 3 or fewer corners: never reported, not in the bands
    std::uint64_t not_finite = 0;  // polygons of 4+ corners with a non-finite coordinate: no bend

    // For each band edge T, the polygons the filter would report at tolerance T: degenerate ones and those
    // bent by T or more.
    std::array<std::uint64_t, kBendBandEdges.size()> reported() const;
    // The polygons of 4+ corners counted: the bands, degenerate and not finite ones.
    std::uint64_t measured() const {
        std::uint64_t n = degenerate + not_finite;
        for (const std::uint64_t c : bands) n += c;
        return n;
    }
};

// Over all polygons of `mesh`. Throws GeometryError (see polygon_corners).
BendHistogram bend_histogram(const torvel::MeshView& mesh);

// Adds `b`'s counts to `a` (the histogram of two meshes from theirs).
void add_histogram(BendHistogram& a, const BendHistogram& b);

}  // namespace torvel::geometry
