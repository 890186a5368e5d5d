// The local-global flattening of polygon_flatten.h.
#include "polygon_flatten.h"

#include <Eigen/Dense>
#include <Eigen/IterativeLinearSolvers>
#include <Eigen/Sparse>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "bend.h"
#include "diameter.h"
#include "polygon_shape.h"

namespace torvel::geometry {

namespace {

using detail::Vec3;
constexpr std::uint32_t kNone = ~std::uint32_t{0};

void check_mesh(const MeshView& mesh, std::span<const std::uint32_t> targets, double tolerance, FlattenLimit limit) {
    if (!(tolerance > 0 && tolerance <= 90)) throw GeometryError("the tolerance is not within (0, 90] degrees");
    if (!(limit.max >= 0) || !std::isfinite(limit.max)) throw GeometryError("the move limit is negative or not finite");
    if (mesh.positions.size() % 3 != 0) throw GeometryError("positions is not x, y, z per vertex");
    const std::size_t polygons = mesh.polygon_count();
    for (std::size_t p = 0; p < polygons; ++p)
        if (mesh.offsets[p + 1] < mesh.offsets[p] || mesh.offsets[p + 1] > mesh.indices.size())
            throw GeometryError("polygon " + std::to_string(p) + ": its offsets do not fit the indices");
    for (std::uint32_t v : mesh.indices)
        if (v >= mesh.vertex_count()) throw GeometryError("vertex " + std::to_string(v) + " out of range");
    for (std::size_t k = 0; k < targets.size(); ++k)
        if (targets[k] >= polygons || (k > 0 && targets[k] <= targets[k - 1]))
            throw GeometryError("target polygon " + std::to_string(targets[k]) + " is out of range or order");
}

std::span<const std::uint32_t> corners_of(const MeshView& mesh, std::uint32_t p) {
    return mesh.indices.subspan(mesh.offsets[p], mesh.offsets[p + 1] - mesh.offsets[p]);
}

std::uint32_t find(std::vector<std::uint32_t>& parent, std::uint32_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
}

// One group: its vertices (local numbers) and polygons, solved on its own.
class Group {
public:
    Group(const MeshView& mesh, std::vector<std::uint32_t> vertices, std::vector<std::uint32_t> polygons,
          std::vector<double> limits, std::vector<std::uint8_t> is_target, double tolerance, const FlattenOptions& o)
        : mesh_(mesh),
          vertices_(std::move(vertices)),
          polygons_(std::move(polygons)),
          limit_(std::move(limits)),
          options_(o) {
        const std::size_t n = vertices_.size();
        local_.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) local_.emplace_back(vertices_[i], i);
        std::sort(local_.begin(), local_.end());
        x0_.resize(n);
        for (std::size_t i = 0; i < n; ++i) x0_[i] = point(vertices_[i]);
        x_ = x0_;
        // What each polygon must reach: its aim, or for a polygon that is not a target, no worse than it was.
        double edges = 0;
        std::size_t edge_count = 0;
        goal_.resize(polygons_.size());
        for (std::size_t k = 0; k < polygons_.size(); ++k) {
            goal_[k] = o.aim * tolerance;
            if (!is_target[k]) goal_[k] = std::max(goal_[k], bend(k).value_or(90.0));
            const auto c = corners_of(mesh_, polygons_[k]);
            for (std::size_t i = 0; i < c.size(); ++i, ++edge_count)
                edges += detail::distance(point(c[i]), point(c[(i + 1) % c.size()]));
        }
        scale_ = edge_count && edges > 0 ? edges / static_cast<double>(edge_count) : 1.0;
    }

    // Returns whether every polygon reached its goal. The vertices free to move start empty; whenever the
    // rounds stop gaining on the goals, each polygon short of its goal frees its corners that lie
    // farthest from the best-fit planes of such polygons (summed over them), so that a lifted vertex
    // moves instead of its neighbours.
    bool solve() {
        free_.assign(vertices_.size(), 0);
        double current = excess();
        for (std::uint32_t rounds = 0; current > 0 && rounds < options_.max_iterations;) {
            // With nothing more to free, the rounds go on while they gain at all.
            const bool added = free_more();
            current = rounds_from(current, added ? 0.98 : 0.999, rounds);
            if (!added) break;
        }
        if (current == 0) return true;
        // The corners freed by their scores can be the wrong ones (a lifted corner of the mesh's border
        // scores less than the inner vertices next to it): again from the start with every vertex free.
        x_ = x0_;
        free_.assign(vertices_.size(), 1);
        std::uint32_t rounds = 0;
        return rounds_from(excess(), 0.999, rounds) == 0;
    }

    // Rounds while each gains `gain` (a factor on the excess) or more; returns the excess.
    double rounds_from(double current, double gain, std::uint32_t& rounds) {
        while (current > 0 && rounds < options_.max_iterations) {
            if (!global_step()) return current;
            ++rounds;
            const double after = excess();
            const bool gaining = after < gain * current;
            current = after;
            if (!gaining) break;
        }
        return current;
    }

    // Undoes each move, smallest first, where the polygons of the vertex keep their goal without it.
    void keep_needed_moves() {
        std::vector<std::vector<std::uint32_t>> at(vertices_.size());  // polygons of each vertex
        for (std::uint32_t k = 0; k < polygons_.size(); ++k)
            for (std::uint32_t v : corners_of(mesh_, polygons_[k]))
                if (const std::uint32_t i = local(v); i != kNone && (at[i].empty() || at[i].back() != k))
                    at[i].push_back(k);
        std::vector<std::uint32_t> order(vertices_.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return moved(a) < moved(b); });
        for (std::uint32_t i : order) {
            if (moved(i) == 0) continue;
            const Vec3 kept = x_[i];
            x_[i] = x0_[i];
            if (!std::all_of(at[i].begin(), at[i].end(), [&](std::uint32_t k) { return reached(k); })) x_[i] = kept;
        }
    }

    void moves(std::uint32_t group, std::vector<VertexMove>& out) const {
        for (std::size_t i = 0; i < vertices_.size(); ++i)
            if (const double d = moved(i); d > 0) out.push_back({vertices_[i], {x_[i].x, x_[i].y, x_[i].z}, d, group});
    }

private:
    static constexpr double kAnchor = 1e-4;  // draws a free vertex back, against the planes' pull
    static constexpr double kFreeWeight = 1e-2;
    static constexpr double kFreed = 0.75;  // freed: corners within this share of the farthest one's score
    static constexpr std::size_t kDense = 48, kDirect = 4096;

    struct Plane {
        Eigen::RowVector3d centroid;
        Eigen::RowVector3d normal;
    };
    // With `free_light`, a free corner weighs little: the plane is then mostly that of the corners that
    // stay, and a free corner's projection onto it is where it can go at once.
    Plane best_fit(std::span<const std::uint32_t> c, bool free_light = false) const {
        auto weight = [&](std::uint32_t v) {
            const std::uint32_t i = local(v);
            return free_light && i != kNone && free_[i] ? kFreeWeight : 1.0;
        };
        Eigen::RowVector3d centroid = Eigen::RowVector3d::Zero();
        double total = 0;
        for (std::uint32_t v : c) {
            centroid += weight(v) * row(point(v));
            total += weight(v);
        }
        centroid /= total;
        Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
        for (std::uint32_t v : c) {
            const Eigen::RowVector3d d = row(point(v)) - centroid;
            covariance += weight(v) * d.transpose() * d;
        }
        const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(covariance);
        return {centroid, eigen.eigenvectors().col(0).transpose()};  // the smallest eigenvalue's
    }

    bool free_more() {
        std::vector<double> score(vertices_.size());
        std::vector<std::size_t> short_of;
        for (std::size_t k = 0; k < polygons_.size(); ++k) {
            if (reached(k)) continue;
            short_of.push_back(k);
            const auto c = corners_of(mesh_, polygons_[k]);
            const Plane plane = best_fit(c);
            for (std::uint32_t v : c)
                if (const std::uint32_t i = local(v); i != kNone)
                    score[i] += std::fabs((row(point(v)) - plane.centroid).dot(plane.normal));
        }
        // Each polygon frees its corners near the highest score among all its corners; when that frees
        // nothing anywhere, its highest scoring corner still held.
        for (const bool near_highest : {true, false}) {
            bool added = false;
            for (std::size_t k : short_of) {
                double best = -1;
                for (std::uint32_t v : corners_of(mesh_, polygons_[k]))
                    if (const std::uint32_t i = local(v); i != kNone && (near_highest || !free_[i]))
                        best = std::max(best, score[i]);
                for (std::uint32_t v : corners_of(mesh_, polygons_[k]))
                    if (const std::uint32_t i = local(v);
                        i != kNone && !free_[i] && score[i] >= (near_highest ? kFreed * best : best)) {
                        free_[i] = 1;
                        added = true;
                        if (!near_highest) break;
                    }
            }
            if (added) return true;
        }
        return false;
    }

    // One round: each polygon's corners projected onto their best-fit plane, then the free vertices'
    // positions that best match those projections (up to each polygon's translation) in one solve, each
    // move cut to its limit.
    bool global_step() {
        std::vector<std::uint32_t> unknown(vertices_.size(), kNone), of;  // free vertex -> unknown, and back
        for (std::uint32_t i = 0; i < vertices_.size(); ++i)
            if (free_[i]) {
                unknown[i] = static_cast<std::uint32_t>(of.size());
                of.push_back(i);
            }
        const auto n = static_cast<Eigen::Index>(of.size());
        Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(n, 3);
        std::vector<Eigen::Triplet<double>> entries;
        for (Eigen::Index u = 0; u < n; ++u) {
            entries.emplace_back(u, u, kAnchor);
            rhs.row(u) += kAnchor * row(x0_[of[static_cast<std::size_t>(u)]]);
        }
        for (std::size_t k = 0; k < polygons_.size(); ++k) project(k, unknown, entries, rhs);
        Eigen::MatrixXd x;
        if (of.size() <= kDense) {
            Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
            for (const auto& e : entries) m(e.row(), e.col()) += e.value();
            x = m.ldlt().solve(rhs);
        } else {
            Eigen::SparseMatrix<double> m(n, n);
            m.setFromTriplets(entries.begin(), entries.end());
            if (of.size() <= kDirect) {
                Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt(m);
                if (ldlt.info() != Eigen::Success) return false;
                x = ldlt.solve(rhs);
            } else {
                // A factorization of a large group costs more than the rounds need: conjugate gradients
                // from where the last round ended.
                Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower | Eigen::Upper> cg(m);
                cg.setTolerance(1e-12);
                Eigen::MatrixXd guess(n, 3);
                for (Eigen::Index u = 0; u < n; ++u) guess.row(u) = row(x_[of[static_cast<std::size_t>(u)]]);
                x = cg.solveWithGuess(rhs, guess);
            }
        }
        for (Eigen::Index u = 0; u < n; ++u) {
            const std::uint32_t i = of[static_cast<std::size_t>(u)];
            Vec3 d = Vec3{x(u, 0), x(u, 1), x(u, 2)} - x0_[i];
            const double length = detail::norm(d);
            if (!std::isfinite(length)) return false;
            if (length > limit_[i]) d = d * (limit_[i] / length);
            x_[i] = x0_[i] + d;
            while (detail::distance(x_[i], x0_[i]) > limit_[i]) {  // never past it by rounding
                d = d * (1 - 0x1p-50);
                x_[i] = x0_[i] + d;
            }
        }
        return true;
    }

    Vec3 point(std::uint32_t v) const {
        if (const std::uint32_t i = local(v); i != kNone && !x_.empty()) return x_[i];
        const std::size_t b = 3 * std::size_t{v};
        return {mesh_.positions[b], mesh_.positions[b + 1], mesh_.positions[b + 2]};
    }
    static Eigen::RowVector3d row(Vec3 a) { return {a.x, a.y, a.z}; }
    std::uint32_t local(std::uint32_t v) const {
        const auto it = std::lower_bound(local_.begin(), local_.end(), std::pair{v, std::uint32_t{0}});
        return it != local_.end() && it->first == v ? it->second : kNone;
    }
    double moved(std::size_t i) const { return detail::distance(x_[i], x0_[i]); }

    std::optional<double> bend(std::size_t k) const {
        const auto c = corners_of(mesh_, polygons_[k]);
        if (c.size() < 4) return 0.0;
        points_.resize(c.size());
        for (std::size_t i = 0; i < c.size(); ++i) points_[i] = point(c[i]);
        return detail::measure_corners(points_).bend;
    }
    bool reached(std::size_t k) const {
        const std::optional<double> b = bend(k);
        return b && *b <= goal_[k];
    }
    // How far the polygons are from their goals, in degrees summed; a degenerate polygon counts 90.
    double excess() const {
        double sum = 0;
        for (std::size_t k = 0; k < polygons_.size(); ++k) {
            const std::optional<double> b = bend(k);
            sum += !b || std::isnan(*b) ? 90 : std::max(0.0, *b - goal_[k]);
        }
        return sum;
    }

    // The polygon's terms of the normal equations: its corners about their centroid against their
    // projections onto its best-fit plane; the share of a corner that is not free goes to the right.
    void project(std::size_t k, std::span<const std::uint32_t> unknown, std::vector<Eigen::Triplet<double>>& entries,
                 Eigen::MatrixXd& rhs) const {
        const auto c = corners_of(mesh_, polygons_[k]);
        if (c.size() < 4) return;
        auto unknown_of = [&](std::uint32_t v) {
            const std::uint32_t i = local(v);
            return i == kNone ? kNone : unknown[i];
        };
        if (std::none_of(c.begin(), c.end(), [&](std::uint32_t v) { return unknown_of(v) != kNone; })) return;
        const double inv = 1.0 / static_cast<double>(c.size());
        const Plane plane = best_fit(c, true);
        // The corners projected onto the plane, about their own centroid.
        Eigen::RowVector3d mean = Eigen::RowVector3d::Zero();
        for (std::uint32_t v : c) {
            const Eigen::RowVector3d p = row(point(v));
            mean += p - (p - plane.centroid).dot(plane.normal) * plane.normal;
        }
        mean *= inv;
        for (std::uint32_t a : c) {
            const std::uint32_t i = unknown_of(a);
            if (i == kNone) continue;
            const Eigen::RowVector3d p = row(point(a));
            rhs.row(i) += p - (p - plane.centroid).dot(plane.normal) * plane.normal - mean;
            for (std::uint32_t b : c) {
                const double value = (a == b ? 1.0 : 0.0) - inv;
                if (const std::uint32_t j = unknown_of(b); j != kNone)
                    entries.emplace_back(i, j, value);
                else
                    rhs.row(i) -= value * row(point(b));
            }
        }
    }

    const MeshView& mesh_;
    std::vector<std::uint32_t> vertices_, polygons_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> local_;  // (vertex, local number), ascending
    std::vector<double> limit_, goal_;
    std::vector<Vec3> x0_, x_;
    std::vector<std::uint8_t> free_;
    double scale_ = 1;
    FlattenOptions options_;
    mutable std::vector<Vec3> points_;
};

}  // namespace

FlattenResult flatten_polygons(const MeshView& mesh, std::span<const std::uint32_t> targets, double tolerance,
                               FlattenLimit limit, const FlattenOptions& options) {
    check_mesh(mesh, targets, tolerance, limit);
    FlattenResult r;
    r.targets.assign(targets.begin(), targets.end());
    // Each movable vertex's limit: the smallest of its targets'.
    std::vector<double> vertex_limit(mesh.vertex_count(), -1);
    std::vector<Vec3> points;
    for (std::uint32_t p : targets) {
        const auto c = corners_of(mesh, p);
        double max = limit.max;
        if (limit.share) {
            points.clear();
            for (std::uint32_t v : c)
                points.push_back({mesh.positions[3 * std::size_t{v}], mesh.positions[3 * std::size_t{v} + 1],
                                  mesh.positions[3 * std::size_t{v} + 2]});
            max *= detail::diameter(points);
        }
        for (std::uint32_t v : c) vertex_limit[v] = vertex_limit[v] < 0 ? max : std::min(vertex_limit[v], max);
    }
    // Groups: the movable vertices joined through every polygon that has two of them.
    std::vector<std::uint32_t> parent(mesh.vertex_count());
    std::iota(parent.begin(), parent.end(), 0);
    std::vector<std::uint32_t> involved;  // polygons with a movable corner
    for (std::uint32_t p = 0; p < mesh.polygon_count(); ++p) {
        std::uint32_t first = kNone;
        for (std::uint32_t v : corners_of(mesh, p)) {
            if (vertex_limit[v] < 0) continue;
            if (first == kNone)
                first = v;
            else
                parent[find(parent, v)] = find(parent, first);
        }
        if (first != kNone) involved.push_back(p);
    }
    std::vector<std::uint32_t> group_of(mesh.vertex_count(), kNone);  // by root
    std::vector<std::vector<std::uint32_t>> vertices, polygons;
    for (std::uint32_t v = 0; v < mesh.vertex_count(); ++v) {
        if (vertex_limit[v] < 0) continue;
        std::uint32_t& g = group_of[find(parent, v)];
        if (g == kNone) {
            g = static_cast<std::uint32_t>(vertices.size());
            vertices.emplace_back();
        }
        vertices[g].push_back(v);
    }
    polygons.resize(vertices.size());
    auto group_of_polygon = [&](std::uint32_t p) {
        for (std::uint32_t v : corners_of(mesh, p))
            if (vertex_limit[v] >= 0) return group_of[find(parent, v)];
        return kNone;
    };
    for (std::uint32_t p : involved) polygons[group_of_polygon(p)].push_back(p);
    for (std::uint32_t p : targets) r.target_group.push_back(group_of_polygon(p));

    std::vector<std::uint8_t> unreached(vertices.size());
    for (std::uint32_t g = 0; g < vertices.size(); ++g) {
        std::vector<double> limits;
        for (std::uint32_t v : vertices[g]) limits.push_back(vertex_limit[v]);
        std::vector<std::uint8_t> is_target;
        for (std::uint32_t p : polygons[g]) is_target.push_back(std::binary_search(targets.begin(), targets.end(), p));
        Group group(mesh, std::move(vertices[g]), polygons[g], std::move(limits), std::move(is_target), tolerance,
                    options);
        unreached[g] = !group.solve();
        group.keep_needed_moves();
        group.moves(g, r.moves);
    }
    std::sort(r.moves.begin(), r.moves.end(),
              [](const VertexMove& a, const VertexMove& b) { return a.vertex < b.vertex; });
    for (std::size_t k = 0; k < targets.size(); ++k)
        if (unreached[r.target_group[k]]) r.unreached.push_back(targets[k]);
    std::vector<std::uint8_t> moved(mesh.vertex_count());
    for (const VertexMove& m : r.moves) moved[m.vertex] = 1;
    std::size_t t = 0;
    for (std::uint32_t p : involved) {
        for (; t < targets.size() && targets[t] < p; ++t) r.touched.push_back(targets[t]);
        const auto c = corners_of(mesh, p);
        if ((t < targets.size() && targets[t] == p) ||
            std::any_of(c.begin(), c.end(), [&](std::uint32_t v) { return moved[v] != 0; }))
            r.touched.push_back(p);
        if (t < targets.size() && targets[t] == p) ++t;
    }
    r.touched.insert(r.touched.end(), targets.begin() + static_cast<std::ptrdiff_t>(t), targets.end());
    return r;
}

double FlattenResult::largest_move(const MeshView& mesh, std::uint32_t polygon) const {
    double largest = 0;
    for (std::uint32_t v : corners_of(mesh, polygon)) {
        const auto it = std::lower_bound(moves.begin(), moves.end(), v,
                                         [](const VertexMove& m, std::uint32_t x) { return m.vertex < x; });
        if (it != moves.end() && it->vertex == v) largest = std::max(largest, it->distance);
    }
    return largest;
}

std::vector<std::uint32_t> undo_corners(FlattenResult& r, const MeshView& mesh,
                                        std::span<const std::uint32_t> polygons) {
    std::vector<std::uint32_t> vertices;
    for (std::uint32_t p : polygons) {
        const auto c = corners_of(mesh, p);
        vertices.insert(vertices.end(), c.begin(), c.end());
    }
    std::sort(vertices.begin(), vertices.end());
    auto listed = [&](std::uint32_t v) { return std::binary_search(vertices.begin(), vertices.end(), v); };
    std::vector<std::uint32_t> undone;
    std::erase_if(r.moves, [&](const VertexMove& m) {
        if (listed(m.vertex)) undone.push_back(m.vertex);
        return listed(m.vertex);
    });
    std::vector<std::uint32_t> out;
    for (std::uint32_t p : r.touched) {
        const auto c = corners_of(mesh, p);
        if (std::any_of(c.begin(), c.end(),
                        [&](std::uint32_t v) { return std::binary_search(undone.begin(), undone.end(), v); }))
            out.push_back(p);
    }
    return out;
}

void apply_moves(std::span<double> positions, std::span<const VertexMove> moves) {
    for (const VertexMove& m : moves)
        std::copy(m.position.begin(), m.position.end(), positions.begin() + 3 * static_cast<std::ptrdiff_t>(m.vertex));
}

}  // namespace torvel::geometry
