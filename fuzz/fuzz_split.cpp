// libFuzzer target: split_polygon (the search, and its fallback with a budget of one step) and
// triangulate_polygon on corners made from arbitrary bytes. The first byte picks the tolerance and the
// coordinates' form: one byte per coordinate as a small integer (repeated corners, corners on one line and
// reflex corners are common then) or eight bytes as a double. Every call returns; a split covers every
// corner, has at most n - 2 pieces (one for a polygon taken whole), and no triangle without an area.
// The same corners are then flattened as one polygon, and as two that share vertices: every move is of a
// corner, within the limit, and undoing the corners of the touched polygons takes back every move.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "polygon_flatten.h"
#include "polygon_shape.h"
#include "polygon_split.h"

namespace geometry = torvel::geometry;

namespace {

void check(const geometry::SplitResult& r, const std::vector<double>& xyz) {
    if (r.ok != r.reason.empty()) std::abort();
    if (!r.ok) return;
    const std::size_t n = xyz.size() / 3;
    if (r.piece_count() == 0 || r.piece_count() > std::max<std::size_t>(1, n - 2)) std::abort();
    std::vector<bool> seen(n, false);
    for (std::size_t k = 0; k < r.piece_count(); ++k) {
        const auto piece = r.piece(k);
        if (piece.size() < 3) std::abort();
        for (const std::uint32_t c : piece) {
            if (c >= n) std::abort();
            seen[c] = true;
        }
        if (piece.size() == 3) {
            const double* a = &xyz[3 * piece[0]];
            const double* b = &xyz[3 * piece[1]];
            const double* c = &xyz[3 * piece[2]];
            const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - b[0], c[1] - b[1], c[2] - b[2]};
            if (u[1] * v[2] - u[2] * v[1] == 0 && u[2] * v[0] - u[0] * v[2] == 0 && u[0] * v[1] - u[1] * v[0] == 0)
                std::abort();
        }
    }
    for (const bool s : seen) {
        if (!s) std::abort();
    }
}

void flatten(const std::vector<double>& xyz, double tolerance, std::uint8_t how) {
    const auto n = static_cast<std::uint32_t>(xyz.size() / 3);
    if (n < 3) return;
    std::vector<std::uint32_t> offsets{0}, indices;
    if ((how & 1) && n >= 6) {  // corners 0 .. n/2 and n/2 .. n-1, 0
        for (std::uint32_t c = 0; c <= n / 2; ++c) indices.push_back(c);
        offsets.push_back(static_cast<std::uint32_t>(indices.size()));
        for (std::uint32_t c = n / 2; c < n; ++c) indices.push_back(c);
        indices.push_back(0);
    } else {
        for (std::uint32_t c = 0; c < n; ++c) indices.push_back(c);
    }
    offsets.push_back(static_cast<std::uint32_t>(indices.size()));
    const torvel::MeshView mesh{xyz, offsets, indices};
    std::vector<std::uint32_t> targets;
    for (std::uint32_t p = 0; p + 1 < offsets.size(); ++p) targets.push_back(p);
    const double limits[] = {0, 0.01, 1, 1e300};
    const geometry::FlattenLimit limit{limits[(how >> 1) % 4], false};
    geometry::FlattenOptions options;
    options.max_iterations = 20;
    geometry::FlattenResult r;
    try {
        r = geometry::flatten_polygons(mesh, targets, tolerance, limit, options);
    } catch (const geometry::GeometryError&) {
        if (tolerance > 0 && tolerance <= 90) std::abort();
        return;
    }
    for (std::size_t k = 0; k < r.moves.size(); ++k) {
        const geometry::VertexMove& m = r.moves[k];
        if (m.vertex >= n || (k > 0 && m.vertex <= r.moves[k - 1].vertex)) std::abort();
        if (!(m.distance > 0 && m.distance <= limit.max * (1 + 1e-12))) std::abort();
    }
    if (!std::is_sorted(r.touched.begin(), r.touched.end())) std::abort();
    const bool moved = !r.moves.empty();
    if (geometry::undo_corners(r, mesh, r.touched).empty() == moved || !r.moves.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 1) return 0;
    const double tolerances[] = {0, 1, 5, 20, 45, 90, -1, NAN};
    const double tolerance = tolerances[data[0] % 8];
    const bool bytes = (data[0] & 8) != 0;
    std::vector<double> xyz;
    for (std::size_t at = 1; at < size && xyz.size() < 3 * 48;) {
        if (bytes) {
            xyz.push_back(static_cast<double>(data[at] % 16) - 4);
            at += 1;
        } else {
            if (size - at < sizeof(double)) break;
            double x = 0;
            std::memcpy(&x, data + at, sizeof x);
            xyz.push_back(x);
            at += sizeof x;
        }
    }
    if ((data[0] & 16) == 0) xyz.resize(xyz.size() / 3 * 3);  // else perhaps not whole corners: a reason
    geometry::SplitOptions options;
    options.max_work = 20000;
    check(geometry::split_polygon(xyz, tolerance, options), xyz);
    options.max_work = 1;
    check(geometry::split_polygon(xyz, tolerance, options), xyz);
    check(geometry::triangulate_polygon(xyz), xyz);
    if (xyz.size() % 3 == 0) flatten(xyz, tolerance, static_cast<std::uint8_t>(size > 1 ? data[1] : 0));
    return 0;
}
