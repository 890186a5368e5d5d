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

std::optional<double> out_of_plane(std::span<const Vec3> p) {
    const std::size_t n = p.size();
    if (n == 0) return std::nullopt;
    Vec3 centroid;
    for (const Vec3& q : p) centroid = centroid + q;
    centroid = centroid * (1.0 / static_cast<double>(n));
    Vec3 newell;
    for (std::size_t k = 0; k < n; ++k) newell = newell + cross(p[k] - centroid, p[(k + 1) % n] - centroid);
    const double length = detail::norm(newell);
    if (!(length > 0) || !std::isfinite(length)) return std::nullopt;
    double farthest = 0;
    for (const Vec3& q : p) farthest = std::max(farthest, std::fabs(dot(q - centroid, newell)));
    const double diameter = detail::diameter(p);
    if (!(diameter > 0) || !std::isfinite(diameter)) return std::nullopt;
    return farthest / length / diameter;
}

bool finite(std::span<const Vec3> p) {
    return std::all_of(p.begin(), p.end(),
                       [](const Vec3& q) { return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z); });
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
