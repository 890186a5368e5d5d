#include "polygon_split.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>

#include "bend.h"
#include "outline.h"
#include "split_common.h"
#include "vec3.h"

namespace torvel::geometry {
namespace {

using detail::AngleTest;
using detail::LinePair;
using detail::Vec3;

constexpr double kTieDegrees = 1e-7;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct WorkLimit {};

// A split's rank so far. `worst` is the largest tan(bend) over its pieces (0 for triangles).
struct Cost {
    std::uint32_t count = 0;
    double worst = 0;
    double length = 0;
};

struct Tuple {
    bool good = false;
    double ratio = 0;
};

// One solved sub-polygon i..j (closed by j -> i): its best split.
struct Memo {
    Cost cost;
    // Corners of the piece on j -> i, i first (kViaNotPlain marks); empty when the piece is all of i..j.
    std::vector<std::uint32_t> chain;
};

// A partial walk along the piece on the cut j -> i: ... pp -> p -> v, having started i -> v1.
// `start`: in a walk that must not be plain at both ends, 1 while the walk has taken one edge out of i, 2
// once it has taken two (a plain start), else 0. `must_jump`: 2 when one of the next two steps must be
// a diagonal, 1 when the next one must.
struct Entry {
    std::uint32_t v, p, pp, v1;
    std::int32_t parent;
    std::int32_t next;  // the next entry at the same corner v
    std::uint8_t start, must_jump;
    bool via_not_plain;  // the step into v is a diagonal whose sub-polygon was solved not plain
    Cost cost;
};

// In a stored chain, marks a corner reached over a diagonal whose sub-polygon was solved not plain.
constexpr std::uint32_t kViaNotPlain = 0x80000000u;

// The search, in corner numbers rotated by `shift` (corner k is the polygon's corner (k + shift) mod n), so
// that the whole polygon's walk closes on a polygon edge chosen inside a stretch of acceptable corners.
class Splitter {
public:
    Splitter(std::span<const Vec3> points, detail::Outline& outline, std::uint32_t shift, double degrees,
             std::uint64_t max_work, const detail::SearchRules& rules)
        : n_(static_cast<std::uint32_t>(points.size())),
          shift_(shift),
          outline_(outline),
          angle_(degrees),
          max_work_(max_work),
          rules_(rules) {
        p_.resize(n_);
        for (std::uint32_t k = 0; k < n_; ++k) p_[k] = points[original(k)];
    }

    std::uint32_t original(std::uint32_t k) const { return (k + shift_) % n_; }

    // Pass one ranks by (pieces, worst bend); pass two accepts only pieces whose tan(bend) is at most
    // `ratio_limit` and ranks by (pieces, diagonal length).
    void begin_pass(bool shortest, double ratio_limit) {
        if (!shortest) {
            for (auto& known : known_) known.assign(std::size_t{n_} * n_, 0);
        } else {
            // Pass two accepts fewer pieces, so what pass one learnt about piece counts still bounds them.
            // A sub-polygon pass one looked at and did not solve was not one acceptable piece then and is
            // not now, so it keeps its bound and is not looked at again.
            for (const auto& [k, memo] : memo_) {
                known_[k & 1][(k >> 33) * n_ + ((k >> 1) & 0xFFFFFFFFu)] = bound(memo.cost.count);
            }
        }
        shortest_ = shortest;
        ratio_limit_ = ratio_limit;
        memo_.clear();
        build_windows();
    }

    std::uint32_t lower_bound_whole() const {
        if (std::all_of(window_good_.begin(), window_good_.end(), [](std::uint8_t g) { return g != 0; })) return 1;
        return std::max<std::uint32_t>(2, 1 + (stab(0, n_ - 1) + 1) / 2);
    }

    std::optional<Cost> solve_whole(std::uint32_t budget) {
        auto found = walk(0, n_ - 1, budget, false, !window_good_[n_ - 3]);
        if (!found) return std::nullopt;
        whole_chain_ = std::move(found->second);
        return found->first;
    }

    // The pieces of the last successful solve_whole, in the polygon's corner numbers.
    std::vector<std::vector<std::uint32_t>> pieces() const {
        std::vector<std::vector<std::uint32_t>> out;
        collect(0, n_ - 1, whole_chain_, out);
        return out;
    }

    std::uint64_t work() const { return work_; }

    static double ratio_degrees(double ratio) {
        return ratio == kInfinity ? 90.0 : std::atan(ratio) * detail::kDegreesPerRadian;
    }

private:
    void spend(std::uint64_t steps = 1) {
        work_ += steps;
        if (work_ > max_work_) throw WorkLimit{};
    }

    Tuple tuple(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
        if (windows_ready_ && b == a + 1 && c == a + 2 && d == a + 3) return {window_good_[a] != 0, window_ratio_[a]};
        spend();
        const Vec3 n1 = detail::corner_normal(p_[a], p_[b], p_[c]);
        const Vec3 n2 = detail::corner_normal(p_[b], p_[c], p_[d]);
        if (detail::is_zero(n1) || detail::is_zero(n2)) return {};
        const LinePair pair = detail::line_pair(n1, n2);
        if (!angle_.below(pair)) return {};
        const double ratio = pair.c > 0 ? pair.s / pair.c : kInfinity;
        if (shortest_ && ratio > ratio_limit_) return {};
        return {true, ratio};
    }

    // Windows are the runs of 4 corners a..a+3 (cyclic). Linear ones (a <= n-4) get the tables: count of
    // bad ones before a, range maximum of ratios, next bad one at or after a, last bad one at or before a.
    void build_windows() {
        windows_ready_ = false;
        window_good_.assign(n_, 0);
        window_ratio_.assign(n_, 0);
        for (std::uint32_t a = 0; a < n_; ++a) {
            const Tuple t = tuple(a, (a + 1) % n_, (a + 2) % n_, (a + 3) % n_);
            window_good_[a] = t.good ? 1 : 0;
            window_ratio_[a] = t.ratio;
        }
        const std::uint32_t linear = n_ - 3;  // a in [0, n-4]
        bad_before_.assign(linear + 1, 0);
        for (std::uint32_t a = 0; a < linear; ++a) bad_before_[a + 1] = bad_before_[a] + (window_good_[a] ? 0 : 1);
        next_bad_.assign(n_ + 3, kNone);
        for (std::uint32_t a = linear; a-- > 0;) next_bad_[a] = window_good_[a] ? next_bad_[a + 1] : a;
        run_left_.assign(n_, 0);
        run_right_.assign(n_ + 1, 0);
        for (std::uint32_t a = 0; a < linear; ++a)
            run_left_[a] = window_good_[a] ? 0 : (a == 0 ? 1 : run_left_[a - 1] + 1);
        for (std::uint32_t a = linear; a-- > 0;) run_right_[a] = window_good_[a] ? 0 : run_right_[a + 1] + 1;
        last_bad_.assign(n_, kNone);
        for (std::uint32_t a = 0; a < n_; ++a) {
            const std::uint32_t earlier = a == 0 ? kNone : last_bad_[a - 1];
            last_bad_[a] = a < linear && !window_good_[a] ? a : earlier;
        }
        windows_ready_ = true;
        // Sparse table over window_ratio_[0 .. linear).
        max_table_.assign(1, std::vector<double>(window_ratio_.begin(), window_ratio_.begin() + linear));
        for (std::uint32_t width = 1; 2 * width <= linear; width *= 2) {
            const std::vector<double>& row = max_table_.back();
            std::vector<double> next(linear - 2 * width + 1);
            for (std::size_t a = 0; a < next.size(); ++a) next[a] = std::max(row[a], row[a + width]);
            max_table_.push_back(std::move(next));
        }
    }

    double max_ratio(std::uint32_t first, std::uint32_t last) const {  // windows first..last, first <= last
        std::size_t level = 0;
        while ((std::size_t{2} << level) <= last - first + 1) ++level;
        return std::max(max_table_[level][first], max_table_[level][last + 1 - (std::uint32_t{1} << level)]);
    }

    // The fewest corners that meet every bad window inside i..j (a window a..a+3 is met by a+1 or a+2):
    // greedy by right end, which is optimal for such intervals.
    std::uint32_t stab(std::uint32_t i, std::uint32_t j) const {
        std::uint32_t count = 0;
        for (std::uint32_t a = next_bad_[i]; a != kNone && a + 3 <= j; a = next_bad_[a + 2]) ++count;
        return count;
    }

    // The runs of 4 through the cut j -> i of sub-polygon i..j (4+ corners) when its piece on the cut
    // follows the polygon's edges there: (j-2, j-1, j, i), (j-1, j, i, i+1), (j, i, i+1, i+2).
    std::array<Tuple, 3> closing(std::uint32_t i, std::uint32_t j) {
        return {tuple(j - 2, j - 1, j, i), tuple(j - 1, j, i, i + 1), tuple(j, i, i + 1, i + 2)};
    }

    // The sub-polygon i..j (4+ corners) as one piece: its worst ratio when acceptable.
    std::optional<double> single(std::uint32_t i, std::uint32_t j, const std::array<Tuple, 3>& closure) const {
        if (bad_before_[j - 2] != bad_before_[i]) return std::nullopt;
        double worst = max_ratio(i, j - 3);
        for (const Tuple& t : closure) {
            if (!t.good) return std::nullopt;
            worst = std::max(worst, t.ratio);
        }
        return worst;
    }

    bool better(const Cost& a, const Cost& b) const {
        if (a.count != b.count) return a.count < b.count;
        return shortest_ ? a.length < b.length : a.worst < b.worst;
    }

    static std::uint64_t key(std::uint32_t i, std::uint32_t j, bool not_plain) {
        return (std::uint64_t{i} << 33) | (std::uint64_t{j} << 1) | (not_plain ? 1 : 0);
    }

    // Lower bound on the pieces of sub-polygon i..j (4+ corners). Its windows, taken round its cycle
    // (those inside, then the three through the cut), must each get a diagonal end on a middle corner;
    // a run of k consecutive bad windows needs ceil(k/2) such corners, and a diagonal has two ends. A
    // piece on the cut that may not be plain at both ends has a diagonal end at i, i+1, j-1 or j too,
    // which meets none of those windows when the five windows through those corners are good.
    std::uint32_t lower_bound(std::uint32_t i, std::uint32_t j, bool not_plain,
                              const std::array<Tuple, 3>& closure) const {
        const std::uint32_t inside = j - i - 2;  // windows i .. j-3
        const std::uint32_t lead = std::min(run_right_[i], inside);
        const std::uint32_t trail = std::min(run_left_[j - 3], inside);
        std::uint32_t corners = 0;
        auto half_up = [](std::uint32_t k) { return (k + 1) / 2; };
        const bool c1 = !closure[0].good, c2 = !closure[1].good, c3 = !closure[2].good;
        if (lead == inside) {  // every window inside is bad: one run, perhaps round the whole cycle
            if (c1 && c2 && c3) {
                corners = half_up(inside + 3);
            } else {
                // The run goes on through c1, c2 (after window j-3) and back through c3, c2 (before
                // window i) as far as they are bad; c2 alone is a run of its own.
                const std::uint32_t on = c1 ? 1 + (c2 ? 1 : 0) : 0;
                const std::uint32_t back = c3 ? 1 + (c2 ? 1 : 0) : 0;
                corners = half_up(inside + on + back) + (c2 && !c1 && !c3 ? 1 : 0);
            }
        } else {
            corners = stab(i, j) - half_up(lead) - half_up(trail);
            std::uint32_t run = trail;
            for (const std::uint32_t k : {0u, 1u, 2u}) {
                if (!closure[k].good) {
                    ++run;
                } else {
                    corners += half_up(run);
                    run = 0;
                }
            }
            corners += half_up(run + lead);
        }
        const bool ends_meet = !window_good_[i] || !window_good_[j - 3] || c1 || c2 || c3;
        if (not_plain && !ends_meet) ++corners;
        return std::max<std::uint32_t>(not_plain ? 2 : 1, 1 + half_up(corners));
    }

    // The best split of sub-polygon i..j (cut off by the usable diagonal i-j) into at most `budget`
    // pieces, or null when it needs more. With `not_plain`, only splits whose piece on the cut does not
    // both start i, i+1, i+2 and end j-2, j-1, j.
    const Memo* solve(std::uint32_t i, std::uint32_t j, std::uint32_t budget, bool not_plain) {
        std::uint16_t& known = known_[not_plain ? 1 : 0][std::size_t{i} * n_ + j];
        if (known & kSolved) {
            const Memo& memo = memo_.at(key(i, j, not_plain));
            return memo.cost.count <= budget ? &memo : nullptr;
        }
        if (!(known & kVisited)) {  // first visit in this pass: solved at once, or a lower bound
            if (j - i == 2) {       // a triangle: one piece, plain at both ends, when it has an area
                if (!not_plain && detail::has_area(p_[i], p_[i + 1], p_[j]))
                    return store(i, j, false, Cost{1, 0, 0}, {});
                known = visited(kNoBound);
                return nullptr;
            }
            const std::array<Tuple, 3> closure = closing(i, j);
            if (!not_plain) {
                if (const auto worst = single(i, j, closure)) return store(i, j, false, Cost{1, *worst, 0}, {});
            }
            const std::uint32_t carried = known & kNoBound;
            const std::uint32_t lower = rules_.lower_bounds ? lower_bound(i, j, not_plain, closure) : 2;
            known = visited(std::max({std::uint32_t{2}, carried, lower}));
        }
        const std::uint32_t claimed = known & kNoBound;
        if (budget < claimed && !rules_.bound_violations) return nullptr;
        auto found = walk(i, j, budget, not_plain, !tuple(j - 2, j - 1, j, i).good);
        if (found && found->first.count < claimed && rules_.bound_violations) ++*rules_.bound_violations;
        if (!found) {
            known = visited(budget + 1);
            return nullptr;
        }
        return store(i, j, not_plain, found->first, std::move(found->second));
    }

    const Memo* store(std::uint32_t i, std::uint32_t j, bool not_plain, const Cost& cost,
                      std::vector<std::uint32_t> chain) {
        Memo& memo = memo_[key(i, j, not_plain)];  // unordered_map: the reference survives insertions
        memo.cost = cost;
        memo.chain = std::move(chain);
        known_[not_plain ? 1 : 0][std::size_t{i} * n_ + j] = kSolved;
        return &memo;
    }

    // Whether solve(i, j, budget, not_plain) can succeed, by what is already known (no search).
    bool may_fit(std::uint32_t i, std::uint32_t j, std::uint32_t budget, bool not_plain) const {
        const std::uint16_t known = known_[not_plain ? 1 : 0][std::size_t{i} * n_ + j];
        if (known & kSolved) return memo_.at(key(i, j, not_plain)).cost.count <= budget;
        return budget >= (known & kNoBound) || rules_.bound_violations;
    }

    static std::uint16_t bound(std::uint32_t pieces) {
        return static_cast<std::uint16_t>(std::min<std::uint32_t>(kNoBound, pieces));
    }
    static std::uint16_t visited(std::uint32_t pieces) { return static_cast<std::uint16_t>(kVisited | bound(pieces)); }

    // The walk along the piece on the cut j -> i: every chain i = v0 < v1 < ... < vm = j whose steps are
    // polygon edges or usable diagonals (each cutting off a sub-polygon solved recursively), keeping
    // the best per (v, p, pp, v1, start, must_jump) and checking each run of 4 corners of the piece as
    // soon as it is known.
    //
    // Two pieces that could be merged into one acceptable piece are never both in a split with the
    // fewest pieces. So a diagonal v-x taken from the middle of flat corners (the runs of 4 through v
    // and x would be acceptable if the pieces on both sides simply followed the polygon's edges there)
    // is only tried with a sub-polygon whose piece on v-x is not plain at both ends, or with a walk that
    // leaves the polygon's edges again within two steps after x.
    std::optional<std::pair<Cost, std::vector<std::uint32_t>>> walk(std::uint32_t i, std::uint32_t j,
                                                                    std::uint32_t budget, bool not_plain,
                                                                    bool last_window_bad) {
        const std::uint32_t span = j - i;
        // rest[x - i]: pieces the walk still needs from x on, at least (half the stabbing number of the
        // bad windows inside x..j, rounded up; with the window j-2, j-1, j, i when it is bad, as a walk
        // that follows the edges into j meets it). backward[k]: start of the k-th bad window from the
        // right in a greedy stabbing of i..j, so rest[x] <= q exactly when x > backward[2q].
        if (depth_ == pool_.size()) pool_.push_back(std::make_unique<WalkBuffers>());
        WalkBuffers& buffers = *pool_[depth_];
        const DepthGuard guard(depth_);
        buffers.arena.clear();
        std::vector<std::uint32_t>& backward = buffers.backward;
        backward.clear();
        std::uint32_t from = j >= 3 ? last_bad_[j - 3] : kNone;
        if (last_window_bad) {
            backward.push_back(j - 2);
            from = j >= 4 ? last_bad_[j - 4] : kNone;
        }
        for (; from != kNone && from >= i; from = from >= 2 ? last_bad_[from - 2] : kNone) backward.push_back(from);
        if (!rules_.lower_bounds) backward.clear();
        std::vector<std::uint32_t>& rest = buffers.rest;
        rest.assign(span + 1, 0);
        {
            std::size_t met = 0;
            for (std::uint32_t x = j + 1; x-- > i;) {
                while (met < backward.size() && backward[met] >= x) ++met;
                rest[x - i] = static_cast<std::uint32_t>((met + 1) / 2);
            }
        }
        auto first_x = [&](std::uint32_t allowed_rest) {  // the smallest x with rest[x] <= allowed_rest
            const std::size_t index = std::size_t{2} * allowed_rest;
            return index < backward.size() ? backward[index] + 1 : i;
        };
        // Pieces still needed from x on by a walk that owes a diagonal.
        auto owed = [&](std::uint32_t x, bool owes) { return std::max<std::uint32_t>(rest[x - i], owes ? 1 : 0); };

        std::vector<Entry>& arena = buffers.arena;
        std::vector<std::int32_t>& head = buffers.head;  // first entry at each corner i..j
        head.assign(span + 1, -1);
        auto add = [&](Entry entry) {
            // A walk owes a diagonal still to come after a flat diagonal, and when it started plain in a
            // walk that must not end plain (until it reaches j - 1).
            const bool owes = (entry.must_jump > 0 && entry.v < j) || (entry.start == 2 && entry.v + 1 < j);
            if (entry.cost.count + owed(entry.v, owes) > budget) return;
            entry.next = head[entry.v - i];
            head[entry.v - i] = static_cast<std::int32_t>(arena.size());
            arena.push_back(entry);
        };
        auto with_jump = [&](Cost cost, const Memo& sub, std::uint32_t a, std::uint32_t b) {
            cost.count += sub.cost.count;
            cost.worst = std::max(cost.worst, sub.cost.worst);
            cost.length += sub.cost.length + detail::distance(p_[a], p_[b]);
            return cost;
        };
        // Jumps a -> x with room for them: the sub-polygon a..x needs at least lower(x) = 1 + ceil(stab/2)
        // pieces, which only grows with x, and the walk after x at least rest[x], which only shrinks. So
        // x is taken in stretches of constant stab, each skipped to where rest[x] is small enough.
        auto for_each_jump = [&](std::uint32_t a, std::uint32_t last, std::uint32_t spare, auto&& visit) {
            if (spare == 0) return;
            std::uint32_t met = 0;
            std::uint32_t window = next_bad_[a];
            for (std::uint32_t x = a + 2; x <= last;) {
                while (window != kNone && window + 3 <= x) ++met, window = next_bad_[window + 2];
                const std::uint32_t lower = met == 0 ? 1 : 1 + (met + 1) / 2;
                if (lower > spare) break;
                spend();
                const std::uint32_t stretch_end = window == kNone ? last : std::min(last, window + 2);
                x = std::max(x, first_x(spare - lower));
                for (; x <= stretch_end; ++x) {
                    spend();
                    visit(x, spare - rest[x - i]);
                }
                x = std::max(x, stretch_end + 1);
            }
        };

        // Would the runs of 4 through x be acceptable if the sub-polygon's piece ended x-2, x-1, x and the
        // walk went on along the polygon's edges (or closed, when x is j or next to it)?
        auto flat_after = [&](std::uint32_t x, std::uint32_t v1) {
            if (x + 2 <= j) return window_good_[x - 2] != 0 && window_good_[x - 1] != 0;
            if (x + 1 == j) return window_good_[j - 3] != 0 && !last_window_bad;
            return !last_window_bad && tuple(j - 1, j, i, v1).good;
        };
        // Takes the diagonal `made.p` -> `made.v` on top of `made.cost`. When the runs of 4 through both
        // ends would be acceptable with plain pieces on both sides (`flat_before`, flat_after), the
        // sub-polygon must not be plain at both ends, or else the walk owes another diagonal: right
        // after x, or for a first step, into j at the end (start 2: the walk may not end plain).
        auto jump = [&](const Entry& made, std::uint32_t sub_budget, bool flat_before, bool first) {
            const std::uint32_t v = made.p, x = made.v;
            auto put = [&](const Memo& sub, bool via_not_plain, std::uint8_t must_jump, std::uint8_t start) {
                Entry e = made;
                e.cost = with_jump(made.cost, sub, v, x);
                e.via_not_plain = via_not_plain;
                e.must_jump = must_jump;
                e.start = start;
                add(e);
            };
            // In a walk that may not be plain at both ends, merging across a diagonal at i or i+1, or at j-1
            // or j, could make it plain: there the rule does not hold.
            const bool mergeable_here = !not_plain || (v >= i + 2 && x + 2 <= j);
            if (!rules_.merge_rule || !mergeable_here || !flat_before || !flat_after(x, made.v1)) {
                if (const Memo* sub = solve(v, x, sub_budget, false)) put(*sub, false, 0, made.start);
                return;
            }
            if (const Memo* sub = solve(v, x, sub_budget, true)) put(*sub, true, 0, made.start);
            const bool after_x = x + 2 <= j;
            const std::uint32_t owing_budget = sub_budget - (rest[x - i] == 0 ? 1 : 0);
            if ((!after_x && !first) || owing_budget == 0) return;
            if (const Memo* sub = solve(v, x, owing_budget, false)) {
                if (after_x) put(*sub, false, 2, made.start);
                if (first) put(*sub, false, 0, 2);
            }
        };

        // First steps out of i: no run of 4 is complete yet; pp = j stands for the corner before i.
        const std::uint8_t first_start = not_plain ? 1 : 0;
        if (i + 1 < j) add(Entry{i + 1, i, j, i + 1, -1, -1, first_start, 0, false, Cost{1, 0, 0}});
        std::optional<bool> flat_at_i;  // were the walk to end plain: (j-1, j, i, i+1) and (j, i, i+1, i+2)
        for_each_jump(i, j - 1, budget - 1, [&](std::uint32_t x, std::uint32_t sub_budget) {
            if (!may_fit(i, x, sub_budget, false) && !may_fit(i, x, sub_budget, true)) return;
            if (!outline_.usable(original(i), original(x))) return;
            if (!flat_at_i) flat_at_i = tuple(j - 1, j, i, i + 1).good && tuple(j, i, i + 1, i + 2).good;
            jump(Entry{x, i, j, x, -1, -1, 0, 0, false, Cost{1, 0, 0}}, sub_budget, *flat_at_i, true);
        });

        for (std::uint32_t v = i + 1; v < j; ++v) {
            std::vector<std::uint32_t>& here = buffers.here;
            here.clear();
            for (std::int32_t k = head[v - i]; k >= 0; k = arena[static_cast<std::size_t>(k)].next) {
                here.push_back(static_cast<std::uint32_t>(k));
            }
            // One entry per (p, pp, v1, start, must_jump): the best.
            auto same_state = [&](const Entry& a, const Entry& b) {
                return a.p == b.p && a.pp == b.pp && a.v1 == b.v1 && a.start == b.start && a.must_jump == b.must_jump;
            };
            std::sort(here.begin(), here.end(), [&](std::uint32_t a, std::uint32_t b) {
                const Entry &ea = arena[a], &eb = arena[b];
                if (ea.p != eb.p) return ea.p < eb.p;
                if (ea.pp != eb.pp) return ea.pp < eb.pp;
                if (ea.v1 != eb.v1) return ea.v1 < eb.v1;
                if (ea.start != eb.start) return ea.start < eb.start;
                if (ea.must_jump != eb.must_jump) return ea.must_jump < eb.must_jump;
                if (better(ea.cost, eb.cost)) return true;
                if (better(eb.cost, ea.cost)) return false;
                return a < b;
            });
            here.erase(std::unique(here.begin(), here.end(),
                                   [&](std::uint32_t a, std::uint32_t b) { return same_state(arena[a], arena[b]); }),
                       here.end());
            // Fewest pieces first: the first to ask for a sub-polygon asks with the largest budget, so
            // later, smaller asks are answered from the memo instead of searching again.
            std::stable_sort(here.begin(), here.end(), [&](std::uint32_t a, std::uint32_t b) {
                return arena[a].cost.count < arena[b].cost.count;
            });
            for (const std::uint32_t index : here) {
                const Entry e = arena[index];  // a copy: `add` may move the arena
                const auto parent = static_cast<std::int32_t>(index);
                spend();
                auto step = [&](std::uint32_t x) -> std::optional<Cost> {
                    Cost cost = e.cost;
                    if (e.p == i && x == j) {  // the triangle i, v, j: acceptable when it has an area
                        if (!detail::has_area(p_[i], p_[v], p_[j])) return std::nullopt;
                        return cost;
                    }
                    const Tuple t = tuple(e.pp, e.p, v, x);
                    if (!t.good) return std::nullopt;
                    cost.worst = std::max(cost.worst, t.ratio);
                    return cost;
                };
                // After this step: the start state (a second edge out of i confirms a plain start).
                auto start_after = [&](bool edge) -> std::uint8_t {
                    if (e.start != 1) return e.start;
                    if (e.p != i) return e.start;
                    return edge ? 2 : 0;
                };
                if (e.must_jump != 1) {
                    if (const auto cost = step(v + 1)) {
                        add(Entry{v + 1, v, e.p, e.v1, parent, -1, start_after(true),
                                  static_cast<std::uint8_t>(e.must_jump == 2 ? 1 : 0), false, *cost});
                    }
                }
                // Would the runs of 4 through v be acceptable if the piece beyond v-x followed the edges?
                std::optional<bool> flat_at_v;
                for_each_jump(v, j, budget - e.cost.count, [&](std::uint32_t x, std::uint32_t sub_budget) {
                    if (!may_fit(v, x, sub_budget, false) && !may_fit(v, x, sub_budget, true)) return;
                    const auto cost = step(x);
                    if (!cost || !outline_.usable(original(v), original(x))) return;
                    if (!flat_at_v) {
                        flat_at_v = v + 2 <= j && tuple(e.pp, e.p, v, v + 1).good && tuple(e.p, v, v + 1, v + 2).good;
                    }
                    jump(Entry{x, v, e.p, e.v1, parent, -1, start_after(false), 0, false, *cost}, sub_budget,
                         *flat_at_v, false);
                });
            }
        }

        // Closing j -> i: the runs of 4 through the cut.
        std::optional<Cost> best;
        std::int32_t best_index = -1;
        for (std::int32_t index = head[span]; index >= 0; index = arena[static_cast<std::size_t>(index)].next) {
            const Entry& e = arena[static_cast<std::size_t>(index)];
            if (e.must_jump != 0) continue;
            if (e.start == 2 && e.p == j - 1 && e.pp == j - 2) continue;  // a plain end where one is barred
            Cost cost = e.cost;
            if (e.pp != i) {
                const Tuple t1 = tuple(e.pp, e.p, j, i);
                if (!t1.good) continue;
                const Tuple t2 = tuple(e.p, j, i, e.v1);
                if (!t2.good) continue;
                cost.worst = std::max({cost.worst, t1.ratio, t2.ratio});
            }
            if (!best || better(cost, *best)) best = cost, best_index = index;
        }
        if (!best) return std::nullopt;
        std::vector<std::uint32_t> chain;
        for (std::int32_t k = best_index; k >= 0; k = arena[static_cast<std::size_t>(k)].parent) {
            const Entry& e = arena[static_cast<std::size_t>(k)];
            chain.push_back(e.v | (e.via_not_plain ? kViaNotPlain : 0));
        }
        chain.push_back(i);
        std::reverse(chain.begin(), chain.end());
        return std::make_pair(*best, std::move(chain));
    }

    void collect(std::uint32_t i, std::uint32_t j, const std::vector<std::uint32_t>& chain,
                 std::vector<std::vector<std::uint32_t>>& out) const {
        std::vector<std::uint32_t> piece;
        if (chain.empty()) {
            for (std::uint32_t k = i; k <= j; ++k) piece.push_back(original(k));
        }
        for (std::size_t k = 0; k < chain.size(); ++k) {
            const std::uint32_t corner = chain[k] & ~kViaNotPlain;
            piece.push_back(original(corner));
            if (k + 1 < chain.size()) {
                const std::uint32_t next = chain[k + 1] & ~kViaNotPlain;
                if (next != corner + 1) {
                    const bool not_plain = (chain[k + 1] & kViaNotPlain) != 0;
                    collect(corner, next, memo_.at(key(corner, next, not_plain)).chain, out);
                }
            }
        }
        out.push_back(std::move(piece));
    }

    std::uint32_t n_;
    std::uint32_t shift_;
    detail::Outline& outline_;
    AngleTest angle_;
    std::uint64_t max_work_;
    detail::SearchRules rules_;
    std::uint64_t work_ = 0;
    std::vector<Vec3> p_;

    bool shortest_ = false;
    double ratio_limit_ = kInfinity;
    bool windows_ready_ = false;  // tuple() reads runs of 4 consecutive corners from the tables
    std::vector<std::uint8_t> window_good_;
    std::vector<double> window_ratio_;
    std::vector<std::uint32_t> bad_before_, next_bad_, last_bad_, run_left_, run_right_;
    std::vector<std::vector<double>> max_table_;
    std::unordered_map<std::uint64_t, Memo> memo_;
    // Per sub-polygon i..j (at i*n + j), unrestricted and not plain: kSolved once in memo_; else a lower
    // bound on its pieces (the low bits, all set: none fits), with kVisited once this pass has looked.
    static constexpr std::uint16_t kSolved = 0x8000, kVisited = 0x4000, kNoBound = 0x3FFF;
    std::array<std::vector<std::uint16_t>, 2> known_;
    std::vector<std::uint32_t> whole_chain_;

    // Scratch of the walks, one set per level of nesting, kept for the next walk at that level.
    struct WalkBuffers {
        std::vector<Entry> arena;
        std::vector<std::int32_t> head;
        std::vector<std::uint32_t> here, rest, backward;
    };
    struct DepthGuard {
        explicit DepthGuard(std::size_t& depth) : depth_(depth) { ++depth_; }
        ~DepthGuard() { --depth_; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
        std::size_t& depth_;
    };
    std::vector<std::unique_ptr<WalkBuffers>> pool_;
    std::size_t depth_ = 0;
};

// Whether the run of 4 corners from corner a (cyclically) may be in a piece: both corner normals are
// non-zero and meet below the tolerance.
bool window_good(std::span<const Vec3> p, std::uint32_t a, const AngleTest& angle) {
    const auto n = static_cast<std::uint32_t>(p.size());
    const Vec3 n1 = detail::corner_normal(p[a], p[(a + 1) % n], p[(a + 2) % n]);
    const Vec3 n2 = detail::corner_normal(p[(a + 1) % n], p[(a + 2) % n], p[(a + 3) % n]);
    return !detail::is_zero(n1) && !detail::is_zero(n2) && angle.below(detail::line_pair(n1, n2));
}

// The polygon's corner where the whole polygon's walk should close: the middle of the longest cyclic
// stretch of acceptable windows, so the first pieces tried are the large flat ones.
std::uint32_t choose_shift(std::span<const Vec3> p, double degrees) {
    const auto n = static_cast<std::uint32_t>(p.size());
    const AngleTest angle(degrees);
    std::vector<bool> good(n);
    for (std::uint32_t a = 0; a < n; ++a) good[a] = window_good(p, a, angle);
    std::uint32_t best_start = 0, best_length = 0;
    for (std::uint32_t a = 0; a < n; ++a) {
        if (!good[a] || good[(a + n - 1) % n]) continue;  // stretches start after a bad window
        std::uint32_t length = 0;
        while (length < n && good[(a + length) % n]) ++length;
        if (length > best_length) best_start = a, best_length = length;
    }
    // Closing on edge (s-1, s) puts windows s-3 .. s-1 at the cut.
    return (best_start + std::min(best_length, best_length / 2 + 3)) % n;
}

// The split of a quad the search would find, when it is plain: the quad is not acceptable whole (one of
// its windows is bad), so its best split is two triangles, whose worst bend is 0, along the shorter
// usable diagonal that leaves two triangles with an area. Empty when the search must decide: equal
// lengths, no such diagonal, or every window good.
std::optional<std::vector<std::vector<std::uint32_t>>> quad_split(std::span<const Vec3> p, detail::Outline& outline,
                                                                  double degrees) {
    const AngleTest angle(degrees);
    bool bad = false;
    for (std::uint32_t a = 0; a < 4; ++a) bad = bad || !window_good(p, a, angle);
    if (!bad) return std::nullopt;
    const bool even = outline.usable(0, 2) && detail::has_area(p[0], p[1], p[2]) && detail::has_area(p[0], p[2], p[3]);
    const bool odd = outline.usable(1, 3) && detail::has_area(p[1], p[2], p[3]) && detail::has_area(p[0], p[1], p[3]);
    const double even_length = detail::distance(p[0], p[2]), odd_length = detail::distance(p[1], p[3]);
    if (even && (!odd || even_length < odd_length))
        return std::vector<std::vector<std::uint32_t>>{{0, 1, 2}, {0, 2, 3}};
    if (odd && (!even || odd_length < even_length))
        return std::vector<std::vector<std::uint32_t>>{{1, 2, 3}, {0, 1, 3}};
    return std::nullopt;
}

// The search's cost foretold: while no split fits, the work of a budget grows about geometrically with
// the budget, so the next one's is foretold from the last two. A search foretold to need more than what
// is left stops at once instead of using up the rest first. (The growth slows down on the way to the
// budget that fits, more in some polygons than in others, so this sometimes stops a search that would
// have ended: measured on noisy flat polygons of 64 corners at 1 degree, allowing four times what is
// left wasted the whole budget, about 0.3 s, on two of five.)
class SearchCost {
public:
    explicit SearchCost(std::uint64_t max_work) : max_work_(max_work) {}

    // Budget `budget` took `spent` steps and fitted no split.
    void record(std::uint32_t budget, std::uint64_t spent) {
        const double work = static_cast<double>(std::max<std::uint64_t>(spent, 1));
        growth_ = last_work_ > 0 ? std::pow(std::max(1.0, work / last_work_), 1.0 / (budget - last_budget_)) : 1.0;
        last_work_ = work;
        last_budget_ = budget;
    }

    // Whether budget `next` is foretold to fit in what is left after `total` steps.
    bool affordable(std::uint32_t next, std::uint64_t total) const {
        const double foretold = last_work_ * std::pow(growth_, next - last_budget_);
        return foretold <= static_cast<double>(max_work_ - std::min(total, max_work_));
    }

private:
    std::uint64_t max_work_;
    double last_work_ = 0, growth_ = 1;
    std::uint32_t last_budget_ = 0;
};

}  // namespace

SplitResult split_polygon(std::span<const double> corner_positions, double tolerance_degrees,
                          const SplitOptions& options) {
    return detail::split_with_rules(corner_positions, tolerance_degrees, options, {});
}

namespace detail {

SplitResult split_with_rules(std::span<const double> corner_positions, double tolerance_degrees,
                             const SplitOptions& options, const SearchRules& rules) {
    std::vector<Vec3> points;
    if (auto reason = detail::read_split_input(corner_positions, points)) return detail::failure(*reason);
    if (std::isnan(tolerance_degrees)) return detail::failure("the tolerance is not a number");
    const bool finite = std::all_of(points.begin(), points.end(), [](const Vec3& q) {
        return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
    });
    if (finite && points.size() >= 4) {
        const detail::CornerBend measured = detail::measure_corners(points);
        if (measured.bend && *measured.bend < tolerance_degrees) {
            std::vector<std::uint32_t> whole(points.size());
            for (std::uint32_t k = 0; k < whole.size(); ++k) whole[k] = k;
            SplitResult result;
            detail::assemble(points, {std::move(whole)}, result);
            result.fewest = true;
            return result;
        }
    }
    detail::Outline outline;
    if (auto reason = outline.prepare(points, options.max_corners); !reason.empty()) {
        return detail::failure(std::move(reason));
    }
    const auto n = static_cast<std::uint32_t>(points.size());
    if (n == 3) {
        SplitResult result;
        detail::assemble(points, {{0, 1, 2}}, result);
        result.fewest = true;
        return result;
    }
    if (n == 4 && rules.quad_rule) {
        if (auto pieces = quad_split(points, outline, tolerance_degrees)) {
            SplitResult result;
            detail::assemble(points, std::move(*pieces), result);
            result.fewest = true;
            return result;
        }
    }
    // The budgets tried so far that fit no split: a split has at least `proven` pieces.
    std::uint32_t proven = 0;
    // The fallback's pieces, made when the search stops or when its cost is first in doubt: their count
    // then caps the budgets (the search needs none larger), which may bring the end within reach.
    std::optional<std::vector<std::vector<std::uint32_t>>> fallback;
    auto fallback_pieces = [&]() -> const std::vector<std::vector<std::uint32_t>>& {
        if (!fallback) fallback = detail::merge_split(points, outline, AngleTest(tolerance_degrees));
        return *fallback;
    };
    try {
        Splitter splitter(points, outline, choose_shift(points, tolerance_degrees), tolerance_degrees, options.max_work,
                          rules);
        splitter.begin_pass(false, kInfinity);
        const std::uint32_t lower = splitter.lower_bound_whole();
        proven = lower;
        std::optional<Cost> fewest;
        SearchCost cost(options.max_work);
        for (std::uint32_t budget = std::min(lower, n - 2);;) {  // a triangulation always fits
            const std::uint64_t before = splitter.work();
            fewest = splitter.solve_whole(budget);
            if (fewest || budget == n - 2) break;
            proven = budget + 1;
            cost.record(budget, splitter.work() - before);
            std::uint32_t next = budget + (budget < lower + 3 ? 1 : std::max<std::uint32_t>(1, budget / 4));
            next = std::min(next, n - 2);
            if (fallback) next = std::min(next, static_cast<std::uint32_t>(fallback->size()));
            if (!cost.affordable(next, splitter.work())) {
                if (fallback || n > detail::kMaxFallbackCorners || fallback_pieces().empty()) throw WorkLimit{};
                next = std::min(next, static_cast<std::uint32_t>(fallback->size()));
                if (!cost.affordable(next, splitter.work())) throw WorkLimit{};
            }
            budget = next;
        }
        if (!fewest) return detail::failure("no split into acceptable pieces was found");
        std::vector<std::vector<std::uint32_t>> pieces = splitter.pieces();

        // Second pass: the same count, no piece worse than the least worst bend, shortest diagonals. Beyond
        // the budget the first pass's pieces stand: as few, and as flat.
        const double worst_degrees = Splitter::ratio_degrees(fewest->worst) + kTieDegrees;
        const double limit = worst_degrees >= 90 ? kInfinity : std::tan(worst_degrees / detail::kDegreesPerRadian);
        try {
            splitter.begin_pass(true, limit);
            if (splitter.solve_whole(fewest->count)) pieces = splitter.pieces();
        } catch (const WorkLimit&) {
        }

        SplitResult result;
        detail::assemble(points, std::move(pieces), result);
        result.fewest = true;
        return result;
    } catch (const WorkLimit&) {
    }
    // Beyond the budget: the fallback's pieces, proven the fewest when the search had ruled out fewer.
    if (n > detail::kMaxFallbackCorners) {
        return detail::failure("splitting needs more than " + std::to_string(options.max_work) +
                               " search steps (polygon of " + std::to_string(n) + " corners; beyond them at most " +
                               std::to_string(detail::kMaxFallbackCorners) + " corners can be split)");
    }
    if (fallback_pieces().empty()) return detail::failure("no split into acceptable pieces was found");
    SplitResult result;
    detail::assemble(points, std::move(*fallback), result);
    result.fewest = result.piece_count() <= proven;
    return result;
}

}  // namespace detail
}  // namespace torvel::geometry
