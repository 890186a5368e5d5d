// The fallback split: an optimal-triangulation style dynamic program in which each triangle may be merged
// into the pieces beside it, then a pass that merges neighbouring pieces.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "outline.h"
#include "split_common.h"

namespace torvel::geometry::detail {
namespace {

constexpr std::uint16_t kUnsolved = 0xFFFF;

// How the triangle i, apex, j of a solved sub-polygon joins the pieces of i..apex and apex..j.
enum class Join : std::uint8_t { alone, left, right, both };

// Sub-polygon i..j (closed by j -> i) solved: the fewest pieces found, and the ends of its piece on j -> i
// (its root), the only piece a larger sub-polygon may still grow: corners i, f1, f2, ..., l2, l1, j.
// A polygon edge (j = i + 1) is a solved sub-polygon of no pieces and no root.
struct Cell {
    std::uint16_t count = kUnsolved;
    std::uint16_t f1 = 0, f2 = 0, l1 = 0, l2 = 0;
    std::uint16_t apex = 0;
    Join join = Join::alone;
};

class MergeSplit {
public:
    MergeSplit(std::span<const Vec3> points, Outline& outline, const AngleTest& angle)
        : p_(points), n_(static_cast<std::uint32_t>(points.size())), outline_(outline), angle_(angle) {
        row_.resize(n_);
        column_.resize(n_);
        std::size_t total = 0;
        for (std::uint32_t i = 0; i < n_; ++i) {
            row_[i] = total;  // cell (i, j) at row_[i] + j - i - 1
            total += n_ - 1 - i;
        }
        std::size_t columns = 0;
        for (std::uint32_t j = 0; j < n_; ++j) column_[j] = columns, columns += j;  // tally (k, j) at column_[j] + k
        cells_.resize(total);
        row_counts_.assign(total, kUnsolved);
        column_counts_.assign(columns, kUnsolved);
        for (std::uint32_t i = 0; i + 1 < n_; ++i) {
            cell(i, i + 1) = Cell{0, 0, 0, 0, 0, 0, Join::alone};
            row_counts_[row_[i]] = column_counts_[column_[i + 1] + i] = 0;
        }
    }

    std::vector<std::vector<std::uint32_t>> run() {
        for (std::uint32_t length = 2; length < n_; ++length) {
            for (std::uint32_t i = 0; i + length < n_; ++i) solve(i, i + length);
        }
        std::vector<std::vector<std::uint32_t>> pieces;
        if (cell(0, n_ - 1).count == kUnsolved) return pieces;
        pieces.push_back(build(0, n_ - 1, pieces));
        merge_neighbours(pieces);
        return pieces;
    }

private:
    Cell& cell(std::uint32_t i, std::uint32_t j) { return cells_[row_[i] + (j - i - 1)]; }

    // The runs of 4 along `chain` (each 4 consecutive corners) are all good.
    bool chain_good(std::initializer_list<std::uint32_t> chain) const {
        const std::uint32_t* c = chain.begin();
        Vec3 before = corner_normal(p_[c[0]], p_[c[1]], p_[c[2]]);
        for (std::size_t k = 3; k < chain.size(); ++k) {
            const Vec3 after = corner_normal(p_[c[k - 2]], p_[c[k - 1]], p_[c[k]]);
            if (!angle_.normals_below_fast(before, after)) return false;
            before = after;
        }
        return true;
    }

    void solve(std::uint32_t i, std::uint32_t j) {
        // The whole polygon closes on its edge n-1 -> 0; every other sub-polygon on a usable diagonal.
        if (j - i != n_ - 1 && !outline_.usable(i, j)) return;
        // Fewest pieces, the first found (apexes in order; taking in both sub-polygons' roots, then one,
        // then none). An option is checked only when it has fewer pieces than the best so far: measured on
        // generated polygons, preferring larger or smaller roots among equal counts is no better and slower.
        Cell best;
        const std::uint16_t* across = &row_counts_[row_[i]] - (i + 1);  // (i, k) at across[k]
        const std::uint16_t* down = &column_counts_[column_[j]];        // (k, j) at down[k]
        for (std::uint32_t k = i + 1; k < j; ++k) {
            if (across[k] == kUnsolved || down[k] == kUnsolved) continue;
            const std::uint32_t base = std::uint32_t{across[k]} + down[k];
            // Taking in both roots saves one piece, and only an apex with a diagonal on each side has both.
            if (base - (k > i + 1 && k + 1 < j ? 1 : 0) >= best.count) continue;
            try_apex(i, j, k, base, best);
        }
        if (best.count == kUnsolved) return;
        const std::uint32_t k = best.apex;
        const Cell& left = cell(i, k);
        const Cell& right = cell(k, j);
        switch (best.join) {
            case Join::alone:
                best.f1 = best.l1 = static_cast<std::uint16_t>(k);
                best.f2 = static_cast<std::uint16_t>(j);
                best.l2 = static_cast<std::uint16_t>(i);
                break;
            case Join::left:
                best.f1 = left.f1, best.f2 = left.f2, best.l1 = static_cast<std::uint16_t>(k), best.l2 = left.l1;
                break;
            case Join::right:
                best.f1 = static_cast<std::uint16_t>(k), best.f2 = right.f1, best.l1 = right.l1, best.l2 = right.l2;
                break;
            case Join::both: best.f1 = left.f1, best.f2 = left.f2, best.l1 = right.l1, best.l2 = right.l2; break;
        }
        cell(i, j) = best;
        row_counts_[row_[i] + (j - i - 1)] = column_counts_[column_[j] + i] = best.count;
    }

    // The options of apex k for sub-polygon i..j that have fewer pieces than `best`, the first that is
    // acceptable taken. Out of line: the scan over the apexes stays small.
    [[gnu::noinline]] void try_apex(std::uint32_t i, std::uint32_t j, std::uint32_t k, std::uint32_t base, Cell& best) {
        const bool has_left = k > i + 1, has_right = k + 1 < j;  // else a polygon edge: no pieces, no root
        const Cell& left = cell(i, k);
        const Cell& right = cell(k, j);
        auto offer = [&](std::uint32_t count, Join join) {
            best.count = static_cast<std::uint16_t>(count);
            best.apex = static_cast<std::uint16_t>(k);
            best.join = join;
        };
        if (has_left && has_right && chain_good({left.l2, left.l1, k, right.f1, right.f2}) &&
            chain_good({right.l2, right.l1, j, i, left.f1, left.f2})) {
            return offer(base - 1, Join::both);
        }
        if (base >= best.count) return;
        if (has_left && chain_good({left.l2, left.l1, k, j, i, left.f1, left.f2})) return offer(base, Join::left);
        if (has_right && chain_good({right.l2, right.l1, j, i, k, right.f1, right.f2})) return offer(base, Join::right);
        if (base + 1 < best.count && has_area(p_[i], p_[k], p_[j])) offer(base + 1, Join::alone);
    }

    // The root of sub-polygon i..j, i first; its other pieces are appended to `out`.
    std::vector<std::uint32_t> build(std::uint32_t i, std::uint32_t j, std::vector<std::vector<std::uint32_t>>& out) {
        const Cell c = cell(i, j);
        const std::uint32_t k = c.apex;
        const bool has_left = k > i + 1, has_right = k + 1 < j;
        std::vector<std::uint32_t> root;
        switch (c.join) {
            case Join::alone:
                if (has_left) out.push_back(build(i, k, out));
                if (has_right) out.push_back(build(k, j, out));
                return {i, k, j};
            case Join::left:
                root = build(i, k, out);
                root.push_back(j);
                if (has_right) out.push_back(build(k, j, out));
                return root;
            case Join::right: {
                if (has_left) out.push_back(build(i, k, out));
                root.push_back(i);
                const std::vector<std::uint32_t> rest = build(k, j, out);
                root.insert(root.end(), rest.begin(), rest.end());
                return root;
            }
            case Join::both: {
                root = build(i, k, out);
                const std::vector<std::uint32_t> rest = build(k, j, out);
                root.insert(root.end(), rest.begin() + 1, rest.end());
                return root;
            }
        }
        return root;
    }

    // Two pieces on either side of a diagonal become one wherever the joined piece is acceptable; the
    // program above only grows the piece on a sub-polygon's cut, so pieces that meet deeper inside are
    // joined here. Each join leaves one piece fewer.
    void merge_neighbours(std::vector<std::vector<std::uint32_t>>& pieces) const {
        bool joined = true;
        std::vector<std::uint32_t> merged;
        while (joined) {
            joined = false;
            // Each side of a piece that is a diagonal, with its piece; the two sides of one diagonal sort
            // next to each other.
            struct Side {
                std::uint32_t from, to, piece;
            };
            std::vector<Side> sides;
            for (std::uint32_t q = 0; q < pieces.size(); ++q) {
                const auto& piece = pieces[q];
                for (std::size_t k = 0; k < piece.size(); ++k) {
                    const std::uint32_t a = piece[k], b = piece[(k + 1) % piece.size()];
                    if ((a + 1) % n_ != b) sides.push_back({a, b, q});
                }
            }
            std::sort(sides.begin(), sides.end(), [](const Side& x, const Side& y) {
                const auto kx = std::minmax(x.from, x.to), ky = std::minmax(y.from, y.to);
                return kx != ky ? kx < ky : x.from < y.from;
            });
            std::vector<bool> gone(pieces.size(), false), changed(pieces.size(), false);
            for (std::size_t s = 0; s + 1 < sides.size(); ++s) {
                const Side& x = sides[s];
                const Side& y = sides[s + 1];
                if (std::minmax(x.from, x.to) != std::minmax(y.from, y.to)) continue;
                ++s;
                // Both pieces as the pass found them: a piece changed in this pass waits for the next.
                if (changed[x.piece] || changed[y.piece] || gone[x.piece] || gone[y.piece]) continue;
                const auto& first = pieces[x.piece];   // holds x.from -> x.to
                const auto& second = pieces[y.piece];  // holds x.to -> x.from
                merged.clear();
                // first from x.to round to x.from, then second after x.from round to before x.to.
                const auto at = static_cast<std::size_t>(std::find(first.begin(), first.end(), x.to) - first.begin());
                for (std::size_t k = 0; k < first.size(); ++k) merged.push_back(first[(at + k) % first.size()]);
                const auto from =
                    static_cast<std::size_t>(std::find(second.begin(), second.end(), x.from) - second.begin());
                for (std::size_t k = 1; k + 1 < second.size(); ++k)
                    merged.push_back(second[(from + k) % second.size()]);
                if (!piece_acceptable(p_, merged, angle_)) continue;
                pieces[x.piece] = merged;
                gone[y.piece] = true;
                changed[x.piece] = true;
                joined = true;
            }
            std::size_t kept = 0;
            for (std::size_t q = 0; q < pieces.size(); ++q) {
                if (gone[q]) continue;
                if (kept != q) pieces[kept] = std::move(pieces[q]);
                ++kept;
            }
            pieces.resize(kept);
        }
    }

    std::span<const Vec3> p_;
    std::uint32_t n_;
    Outline& outline_;
    const AngleTest& angle_;
    std::vector<std::size_t> row_, column_;
    std::vector<Cell> cells_;
    // The cells' counts again, by row and by column (all (k, j) of one j next to each other), so that
    // the scan over the apexes of i..j reads both sub-polygons' counts from consecutive memory.
    std::vector<std::uint16_t> row_counts_, column_counts_;
};

}  // namespace

bool piece_acceptable(std::span<const Vec3> points, std::span<const std::uint32_t> piece, const AngleTest& angle) {
    const std::size_t m = piece.size();
    if (m < 3) return false;
    if (m == 3) return has_area(points[piece[0]], points[piece[1]], points[piece[2]]);
    auto normal_at = [&](std::size_t k) {
        return corner_normal(points[piece[(k + m - 1) % m]], points[piece[k]], points[piece[(k + 1) % m]]);
    };
    const Vec3 first = normal_at(0);
    Vec3 before = first;
    for (std::size_t k = 1; k <= m; ++k) {
        const Vec3 after = k == m ? first : normal_at(k);
        if (!angle.normals_below_fast(before, after)) return false;
        before = after;
    }
    return true;
}

std::vector<std::vector<std::uint32_t>> merge_split(std::span<const Vec3> points, Outline& outline,
                                                    const AngleTest& angle) {
    return MergeSplit(points, outline, angle).run();
}

}  // namespace torvel::geometry::detail
