// The filter's verdict, the geometry library's splits, and the filter's verdict again on the pieces.
#include "repair.h"

#include <algorithm>
#include <iterator>
#include <span>

#include "huge_pages.h"
#include "file_session.h"
#include "plugin_registry.h"
#include "polygon_split.h"

namespace torvel {

namespace {

std::vector<double> corner_positions(const MeshView& mesh, std::uint32_t polygon,
                                     std::span<const std::uint32_t> corners = {}) {
    std::vector<double> out;
    const std::uint32_t first = mesh.offsets[polygon], n = mesh.offsets[polygon + 1] - first;
    auto add = [&](std::uint32_t c) {
        const std::size_t v = mesh.indices[first + c];
        out.insert(out.end(), mesh.positions.begin() + static_cast<std::ptrdiff_t>(3 * v),
                   mesh.positions.begin() + static_cast<std::ptrdiff_t>(3 * v + 3));
    };
    if (corners.empty())
        for (std::uint32_t c = 0; c < n; ++c) add(c);
    for (std::uint32_t c : corners) add(c);
    return out;
}

// Where each polygon of the pieces' mesh comes from: a split (its place in the list) and piece.
struct Origin {
    std::uint32_t split = 0;
    std::uint32_t piece = 0;
};

// The pieces of every split as polygons of one mesh. The pieces of a polygon share the vertices of its
// corners (and so the new diagonals), as they do in the repaired mesh.
PolygonMesh pieces_mesh(const MeshView& mesh, std::span<const SplitPolygon> splits, std::vector<Origin>& origin) {
    PolygonMesh out;
    std::size_t pieces = 0, corners = 0, vertices = 0;
    for (const SplitPolygon& split : splits) {
        pieces += split.piece_count();
        corners += split.corners.size();
        vertices += mesh.offsets[split.polygon + 1] - mesh.offsets[split.polygon];
    }
    reserve_huge(out.positions, 3 * vertices);
    reserve_huge(out.offsets, pieces + 1);
    reserve_huge(out.indices, corners);
    origin.clear();
    origin.reserve(pieces);
    std::vector<std::uint32_t> vertex;  // of each corner of the polygon being split, or kNone
    constexpr std::uint32_t kNone = ~std::uint32_t{0};
    for (std::uint32_t s = 0; s < splits.size(); ++s) {
        const SplitPolygon& split = splits[s];
        const std::uint32_t first = mesh.offsets[split.polygon];
        vertex.assign(mesh.offsets[split.polygon + 1] - first, kNone);
        for (std::uint32_t k = 0; k < split.piece_count(); ++k) {
            for (std::uint32_t i = split.offsets[k]; i < split.offsets[k + 1]; ++i) {
                const std::uint32_t c = split.corners[i];
                if (vertex[c] == kNone) {
                    vertex[c] = static_cast<std::uint32_t>(out.positions.size() / 3);
                    const auto v = static_cast<std::ptrdiff_t>(mesh.indices[first + c]);
                    out.positions.insert(out.positions.end(), mesh.positions.begin() + 3 * v,
                                         mesh.positions.begin() + 3 * v + 3);
                }
                out.indices.push_back(vertex[c]);
            }
            out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
            origin.push_back({s, k});
        }
    }
    return out;
}

// The pieces the filter still reports are split into triangles; a polygon one of whose pieces cannot be
// is left as it was. The polygons whose pieces were split so are added to `triangulated`.
void triangulate_reported(MeshRepair& r, const MeshView& mesh, std::span<const std::uint32_t> reported,
                          std::span<const Origin> origin, std::vector<std::uint32_t>& triangulated) {
    if (reported.empty()) return;  // as it nearly always is: the lists are not rebuilt then
    std::vector<std::vector<std::vector<std::uint32_t>>> pieces(r.splits.size());
    std::vector<bool> touched(r.splits.size()), dropped(r.splits.size());
    for (std::uint32_t q : reported) {
        const Origin o = origin[q];
        const std::size_t s = o.split;
        if (dropped[s]) continue;  // told once
        SplitPolygon& split = r.splits[s];
        if (!touched[s]) {
            for (std::uint32_t k = 0; k < split.piece_count(); ++k)
                pieces[s].push_back(
                    {split.corners.begin() + split.offsets[k], split.corners.begin() + split.offsets[k + 1]});
            touched[s] = true;
        }
        const std::vector<std::uint32_t> piece = pieces[s][o.piece];
        const geometry::SplitResult tri = geometry::triangulate_polygon(corner_positions(mesh, split.polygon, piece));
        if (!tri.ok) {
            r.not_repaired.push_back(
                {split.polygon, "a piece the filter still reports cannot be split into triangles: " + tri.reason});
            dropped[s] = true;
            continue;
        }
        // The piece becomes its triangles, in its place; the pieces after it move along.
        std::vector<std::vector<std::uint32_t>> triangles;
        for (std::size_t t = 0; t < tri.piece_count(); ++t) {
            std::vector<std::uint32_t> corners;
            for (std::uint32_t c : tri.piece(t)) corners.push_back(piece[c]);
            triangles.push_back(std::move(corners));
        }
        pieces[s][o.piece] = std::move(triangles.front());
        pieces[s].insert(pieces[s].end(), std::make_move_iterator(triangles.begin() + 1),
                         std::make_move_iterator(triangles.end()));
    }
    std::vector<SplitPolygon> kept;
    for (std::size_t s = 0; s < r.splits.size(); ++s) {
        if (dropped[s]) continue;
        if (touched[s]) {
            triangulated.push_back(r.splits[s].polygon);
            SplitPolygon redone{r.splits[s].polygon, {0}, {}};
            for (const auto& piece : pieces[s]) {
                redone.corners.insert(redone.corners.end(), piece.begin(), piece.end());
                redone.offsets.push_back(static_cast<std::uint32_t>(redone.corners.size()));
            }
            r.splits[s] = std::move(redone);
        }
        kept.push_back(std::move(r.splits[s]));
    }
    r.splits = std::move(kept);
    std::sort(r.not_repaired.begin(), r.not_repaired.end(),
              [](const NotRepaired& a, const NotRepaired& b) { return a.index < b.index; });
}

// Each listed polygon alone, with the moved positions of its corners; the corners of one polygon that
// are one vertex stay one vertex.
PolygonMesh moved_polygons(const MeshView& mesh, std::span<const geometry::VertexMove> moves,
                           std::span<const std::uint32_t> polygons) {
    PolygonMesh out;
    std::vector<std::uint32_t> seen;  // vertices of the polygon being copied
    for (std::uint32_t p : polygons) {
        const auto first = static_cast<std::uint32_t>(out.positions.size() / 3);
        seen.clear();
        for (std::uint32_t i = mesh.offsets[p]; i < mesh.offsets[p + 1]; ++i) {
            const std::uint32_t v = mesh.indices[i];
            const auto at = std::find(seen.begin(), seen.end(), v);
            out.indices.push_back(first + static_cast<std::uint32_t>(at - seen.begin()));
            if (at != seen.end()) continue;
            seen.push_back(v);
            const auto m =
                std::lower_bound(moves.begin(), moves.end(), v,
                                 [](const geometry::VertexMove& a, std::uint32_t b) { return a.vertex < b; });
            if (m != moves.end() && m->vertex == v)
                out.positions.insert(out.positions.end(), m->position.begin(), m->position.end());
            else
                out.positions.insert(out.positions.end(), mesh.positions.begin() + 3 * std::ptrdiff_t{v},
                                     mesh.positions.begin() + 3 * std::ptrdiff_t{v} + 3);
        }
        out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
    }
    return out;
}

// Flattens the reported polygons and returns those the filter still reports (the rest are in
// r.flattened).
std::vector<std::uint32_t> flatten_reported(MeshRepair& r, host::Host& host, const MeshView& mesh,
                                            const std::vector<std::uint32_t>& reported, double tolerance,
                                            geometry::FlattenLimit limit, const PlaceMesh& place) {
    geometry::FlattenResult f = geometry::flatten_polygons(mesh, reported, tolerance, limit);
    // The filter's verdict on each touched polygon as last asked; the moves of the corners of those it
    // reports are undone and their neighbours asked again, until it reports none with a moved corner.
    std::vector<std::uint8_t> still(mesh.polygon_count());
    for (std::uint32_t p : reported) still[p] = 1;
    std::vector<std::uint32_t> ask = f.moves.empty() ? std::vector<std::uint32_t>{} : f.touched;
    while (!ask.empty()) {
        for (std::uint32_t p : ask) still[p] = 0;
        std::vector<std::uint32_t> again;
        for (std::uint32_t q : reported_polygons(host, place(moved_polygons(mesh, f.moves, ask)))) {
            still[ask[q]] = 1;
            again.push_back(ask[q]);
        }
        ask = geometry::undo_corners(f, mesh, again);
    }
    std::vector<std::uint32_t> left;
    for (std::uint32_t p : reported)
        if (still[p]) left.push_back(p);
    for (std::uint32_t p : reported)
        if (!std::binary_search(left.begin(), left.end(), p)) r.flattened.push_back({p, f.largest_move(mesh, p)});
    r.moves = std::move(f.moves);
    return left;
}

}  // namespace

MeshRepair repair_mesh(host::Host& host, const XSI::CRef& object, const MeshView& mesh, double tolerance,
                       const PlaceMesh& place, const FixStrategy& strategy) {
    MeshRepair r;
    std::vector<std::uint32_t> reported = reported_polygons(host, object);
    if (strategy.flatten) {
        reported = flatten_reported(r, host, mesh, reported, tolerance, *strategy.flatten, place);
        if (!strategy.split_unflattened) {
            const std::string max = strategy.flatten->share
                                        ? number_text(100 * strategy.flatten->max) + "% of its diameter"
                                        : number_text(strategy.flatten->max);
            for (std::uint32_t p : reported)
                r.not_repaired.push_back({p, "cannot be flattened with no vertex moving more than " + max});
            return r;
        }
    }
    std::vector<std::uint32_t> beyond_budget, triangulated;  // ascending
    for (std::uint32_t p : reported) {
        geometry::SplitResult s = geometry::split_polygon(corner_positions(mesh, p), tolerance);
        if (!s.ok) {
            r.not_repaired.push_back({p, std::move(s.reason)});
            continue;
        }
        if (!s.fewest) beyond_budget.push_back(p);
        r.splits.push_back({p, std::move(s.offsets), std::move(s.corners)});
    }
    if (r.splits.empty()) return r;

    // The filter, not the host's measure of a bend, has the last word on every piece.
    std::vector<Origin> origin;
    const XSI::CRef pieces = place(pieces_mesh(mesh, r.splits, origin));
    triangulate_reported(r, mesh, reported_polygons(host, pieces), origin, triangulated);
    // A polygon the filter reported but that needed no cut stays as it is.
    std::erase_if(r.splits, [](const SplitPolygon& s) { return s.piece_count() < 2; });
    for (SplitPolygon& s : r.splits) {
        if (s.piece_count() == 2) continue;
        if (std::binary_search(beyond_budget.begin(), beyond_budget.end(), s.polygon)) {
            s.fewest = false;
        } else if (std::binary_search(triangulated.begin(), triangulated.end(), s.polygon)) {
            s.fewest = false;
            s.triangulated = true;
        }
    }
    return r;
}

PolygonMesh repaired_mesh(const MeshView& mesh, std::span<const PolygonMesh::Object> objects,
                          std::span<const SplitPolygon> splits, std::vector<std::uint32_t>* source_polygon) {
    PolygonMesh out;
    out.positions.assign(mesh.positions.begin(), mesh.positions.end());
    std::size_t pieces = 0, corners = 0;
    for (const SplitPolygon& split : splits) {
        pieces += split.piece_count() - 1;
        corners += split.corners.size() - (mesh.offsets[split.polygon + 1] - mesh.offsets[split.polygon]);
    }
    out.offsets.reserve(mesh.offsets.size() + pieces);
    out.indices.reserve(mesh.indices.size() + corners);
    std::size_t s = 0, object = 0;
    const auto polygons = static_cast<std::uint32_t>(mesh.offsets.size() - 1);
    for (std::uint32_t p = 0; p < polygons; ++p) {
        // An object starts at its first polygon's first piece.
        for (; object < objects.size() && objects[object].first == p; ++object)
            out.objects.push_back(
                {objects[object].name, static_cast<std::uint32_t>(out.polygon_count()), objects[object].first_vertex});
        const std::uint32_t first = mesh.offsets[p];
        if (s < splits.size() && splits[s].polygon == p) {
            const SplitPolygon& split = splits[s++];
            for (std::uint32_t k = 0; k < split.piece_count(); ++k) {
                for (std::uint32_t i = split.offsets[k]; i < split.offsets[k + 1]; ++i)
                    out.indices.push_back(mesh.indices[first + split.corners[i]]);
                out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
                if (source_polygon) source_polygon->push_back(p);
            }
            continue;
        }
        out.indices.insert(out.indices.end(), mesh.indices.begin() + first, mesh.indices.begin() + mesh.offsets[p + 1]);
        out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
        if (source_polygon) source_polygon->push_back(p);
    }
    for (; object < objects.size(); ++object)  // a lone object without polygons
        out.objects.push_back(
            {objects[object].name, static_cast<std::uint32_t>(out.polygon_count()), objects[object].first_vertex});
    return out;
}

}  // namespace torvel
