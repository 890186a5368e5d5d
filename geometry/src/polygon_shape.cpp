#include "polygon_shape.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "bend.h"
#include "diameter.h"
#include "vec3.h"

namespace torvel::geometry {
namespace {

using detail::Vec3;

void require_triples(std::size_t values) {
    if (values % 3 != 0) {
        throw GeometryError("corner positions: " + std::to_string(values) + " values, not x, y, z per corner");
    }
}

// The best-fit plane: through the centroid, perpendicular to the Newell normal (of length `length`).
struct Plane {
    Vec3 centroid, normal;
    double length = 0;
};

std::optional<Plane> best_fit_plane(std::span<const Vec3> p) {
    const std::size_t n = p.size();
    if (n == 0) return std::nullopt;
    Plane plane;
    for (const Vec3& q : p) plane.centroid = plane.centroid + q;
    plane.centroid = plane.centroid * (1.0 / static_cast<double>(n));
    for (std::size_t k = 0; k < n; ++k)
        plane.normal = plane.normal + cross(p[k] - plane.centroid, p[(k + 1) % n] - plane.centroid);
    plane.length = detail::norm(plane.normal);
    if (!(plane.length > 0) || !std::isfinite(plane.length)) return std::nullopt;
    return plane;
}

// The largest distance from the plane, times the normal's length (divided once, by the caller).
double farthest_scaled(std::span<const Vec3> p, const Plane& plane) {
    double farthest = 0;
    for (const Vec3& q : p) farthest = std::max(farthest, std::fabs(dot(q - plane.centroid, plane.normal)));
    return farthest;
}

std::optional<double> out_of_plane(std::span<const Vec3> p) {
    const std::optional<Plane> plane = best_fit_plane(p);
    if (!plane) return std::nullopt;
    const double farthest = farthest_scaled(p, *plane);
    const double diameter = detail::diameter(p);
    if (!(diameter > 0) || !std::isfinite(diameter)) return std::nullopt;
    return farthest / plane->length / diameter;
}

bool finite(std::span<const Vec3> p) {
    return std::all_of(p.begin(), p.end(),
                       [](const Vec3& q) { return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z); });
}

std::optional<double> plane_distance_of(std::span<const Vec3> p) {
    if (!finite(p)) return std::nullopt;
    const std::optional<Plane> plane = best_fit_plane(p);
    if (!plane) return std::nullopt;
    return farthest_scaled(p, *plane) / plane->length;
}

PolygonShape describe_points(std::span<const Vec3> p) {
    PolygonShape shape;
    shape.corners = static_cast<std::uint32_t>(p.size());
    if (p.size() >= 4) {
        const detail::CornerBend measured = detail::measure_corners(p);
        shape.bend = measured.bend;
        shape.degenerate = measured.degenerate;
    }
    if (finite(p)) shape.out_of_plane = out_of_plane(p);
    return shape;
}

// Reads polygon `polygon` into `out`, checking every array access it needs.
void read_corners(const MeshView& mesh, std::uint32_t polygon, std::vector<Vec3>& out) {
    const std::string name = "polygon " + std::to_string(polygon);
    if (mesh.offsets.empty()) throw GeometryError("offsets is empty (it needs polygon count + 1 entries)");
    const std::size_t polygons = mesh.offsets.size() - 1;
    if (polygon >= polygons) {
        throw GeometryError(name + " does not exist (the mesh has " + std::to_string(polygons) + " polygons)");
    }
    if (mesh.positions.size() % 3 != 0) {
        throw GeometryError("positions holds " + std::to_string(mesh.positions.size()) +
                            " values, not x, y, z per vertex");
    }
    const std::uint32_t begin = mesh.offsets[polygon], end = mesh.offsets[polygon + 1];
    if (end < begin) {
        throw GeometryError(name + ": offsets " + std::to_string(begin) + " to " + std::to_string(end) +
                            " run backwards");
    }
    if (end > mesh.indices.size()) {
        throw GeometryError(name + ": offsets " + std::to_string(begin) + " to " + std::to_string(end) +
                            " run past the " + std::to_string(mesh.indices.size()) + " indices");
    }
    const std::size_t vertices = mesh.positions.size() / 3;
    out.resize(end - begin);
    for (std::uint32_t k = begin; k < end; ++k) {
        const std::uint32_t v = mesh.indices[k];
        if (v >= vertices) {
            throw GeometryError(name + ", corner " + std::to_string(k - begin) + ": vertex " + std::to_string(v) +
                                " out of range (the mesh has " + std::to_string(vertices) + " vertices)");
        }
        out[k - begin] = {mesh.positions[3 * std::size_t{v}], mesh.positions[3 * std::size_t{v} + 1],
                          mesh.positions[3 * std::size_t{v} + 2]};
    }
}

}  // namespace

std::string_view cause_text(DegenerateCause cause) {
    return cause == DegenerateCause::zero_length_edge ? "zero-length edge" : "collinear";
}

PolygonShape describe_polygon(std::span<const double> corner_positions) {
    require_triples(corner_positions.size());
    const std::vector<Vec3> points = detail::to_points(corner_positions);
    return describe_points(points);
}

std::vector<double> polygon_corners(const MeshView& mesh, std::uint32_t polygon) {
    std::vector<Vec3> points;
    read_corners(mesh, polygon, points);
    std::vector<double> xyz;
    xyz.reserve(3 * points.size());
    for (const Vec3& p : points) xyz.insert(xyz.end(), {p.x, p.y, p.z});
    return xyz;
}

std::vector<PolygonShape> describe_mesh(const MeshView& mesh, std::span<const std::uint32_t> polygons) {
    std::vector<PolygonShape> shapes;
    shapes.reserve(polygons.size());
    std::vector<Vec3> points;
    for (const std::uint32_t polygon : polygons) {
        read_corners(mesh, polygon, points);
        shapes.push_back(describe_points(points));
    }
    return shapes;
}

std::optional<CollinearCorner> nearly_collinear_corner(std::span<const double> corner_positions, double epsilon) {
    require_triples(corner_positions.size());
    const std::vector<Vec3> p = detail::to_points(corner_positions);
    const std::size_t n = p.size();
    if (n < 4 || !finite(p)) return std::nullopt;
    Vec3 low = p[0], high = p[0];
    for (const Vec3& q : p) {
        low = {std::min(low.x, q.x), std::min(low.y, q.y), std::min(low.z, q.z)};
        high = {std::max(high.x, q.x), std::max(high.y, q.y), std::max(high.z, q.z)};
    }
    const double diagonal = detail::distance(low, high);
    std::optional<CollinearCorner> best;
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3 before = p[(k + n - 1) % n], after = p[(k + 1) % n];
        const Vec3 normal = detail::corner_normal(before, p[k], after);
        if (detail::is_zero(normal)) return CollinearCorner{static_cast<std::uint32_t>(k), true, 0};
        // Edges in units of the diagonal (each at most 1): their cross product neither overflows for huge
        // coordinates nor needs another division. Both have length: a zero one zeroes the corner normal.
        const Vec3 a = (p[k] - before) * (1 / diagonal), b = (after - p[k]) * (1 / diagonal);
        const double height = detail::norm(cross(a, b)) / std::max(detail::norm(a), detail::norm(b));
        if (height <= epsilon && (!best || height < best->height))
            best = CollinearCorner{static_cast<std::uint32_t>(k), false, height};
    }
    return best;
}

std::optional<double> plane_distance(std::span<const double> corner_positions) {
    require_triples(corner_positions.size());
    const std::vector<Vec3> points = detail::to_points(corner_positions);
    return plane_distance_of(points);
}

std::vector<PlaneDistance> out_of_plane_polygons(const MeshView& mesh, double max_distance) {
    std::vector<PlaneDistance> out;
    const std::size_t polygons = mesh.polygon_count();
    std::vector<Vec3> points;
    for (std::size_t polygon = 0; polygon < polygons; ++polygon) {
        read_corners(mesh, static_cast<std::uint32_t>(polygon), points);
        if (points.size() < 4) continue;
        const std::optional<double> distance = plane_distance_of(points);
        if (distance && *distance > max_distance) out.push_back({static_cast<std::uint32_t>(polygon), *distance});
    }
    return out;
}

std::array<std::uint64_t, kBendBandEdges.size()> BendHistogram::reported() const {
    std::array<std::uint64_t, kBendBandEdges.size()> out{};
    std::uint64_t at_or_above = 0;
    for (std::size_t k = bands.size(); k-- > 0;) {
        at_or_above += bands[k];
        out[k] = degenerate + at_or_above;
    }
    out.back() = degenerate + at_90;
    return out;
}

void add_histogram(BendHistogram& a, const BendHistogram& b) {
    for (std::size_t k = 0; k < a.bands.size(); ++k) a.bands[k] += b.bands[k];
    a.degenerate += b.degenerate;
    a.at_90 += b.at_90;
    a.small += b.small;
    a.not_finite += b.not_finite;
}

BendHistogram bend_histogram(const MeshView& mesh) {
    BendHistogram histogram;
    if (mesh.offsets.empty()) throw GeometryError("offsets is empty (it needs polygon count + 1 entries)");
    const auto polygons = static_cast<std::uint32_t>(std::min<std::size_t>(mesh.offsets.size() - 1, UINT32_MAX));
    std::vector<Vec3> points;
    for (std::uint32_t polygon = 0; polygon < polygons; ++polygon) {
        read_corners(mesh, polygon, points);
        if (points.size() < 4) {
            ++histogram.small;
            continue;
        }
        const detail::CornerBend measured = detail::measure_corners(points);
        if (measured.degenerate) {
            ++histogram.degenerate;
            continue;
        }
        const double bend = *measured.bend;
        if (std::isnan(bend)) {
            ++histogram.not_finite;
            continue;
        }
        std::size_t band = 0;
        while (band + 1 < histogram.bands.size() && bend >= kBendBandEdges[band + 1]) ++band;
        ++histogram.bands[band];
        if (bend >= kBendBandEdges.back()) ++histogram.at_90;
    }
    return histogram;
}

}  // namespace torvel::geometry
