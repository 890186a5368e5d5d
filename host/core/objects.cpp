#include "objects.h"

#include "huge_pages.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "work_threads.h"

namespace torvel::host {

namespace {

// An uninitialised array for the length of one function; a large one is a block of the SDK's
// (detail/mesh_table.h), given back for the next large array (a plug-in's reference array, the next
// mesh's scratch) to reuse.
template <class T>
class ScratchArray {
public:
    explicit ScratchArray(std::size_t n) : bytes_(n * sizeof(T)) {
        static_assert(std::is_trivial_v<T>);
        if (bytes_ >= XSI::detail::kLargeBlockBytes)
            data_ = static_cast<T*>(XSI::detail::acquire_block(bytes_));
        else
            data_ = new T[n];
    }
    ~ScratchArray() { reset(); }
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;
    T* get() const { return data_; }
    void reset() noexcept {
        if (!data_) return;
        if (bytes_ >= XSI::detail::kLargeBlockBytes)
            XSI::detail::release_block(data_, bytes_);
        else
            delete[] data_;
        data_ = nullptr;
    }

private:
    std::size_t bytes_;
    T* data_;
};

}  // namespace

namespace {

// The exceptions build_edges promises, in the order a single pass finds them.
void check_polygons(const std::vector<std::uint32_t>& offsets, const std::vector<std::uint32_t>& indices,
                    std::uint32_t nv) {
    const std::size_t polygons = offsets.size() - 1;
    if (offsets.empty() || offsets.front() != 0 || offsets.back() != indices.size())
        throw std::invalid_argument("polygon offsets do not cover the index array");
    for (std::size_t p = 0; p < polygons; ++p) {
        if (offsets[p + 1] < offsets[p] || offsets[p + 1] - offsets[p] < 3)
            throw std::invalid_argument("polygon " + std::to_string(p) + " has fewer than three vertices");
    }
    for (std::size_t c = 0; c < indices.size(); ++c) {
        if (indices[c] >= nv)
            throw std::invalid_argument("vertex index " + std::to_string(indices[c]) + " out of range (" +
                                        std::to_string(nv) + " vertices)");
    }
}

// Below this many corners the edge table is built on one thread: on two cores, 65536 corners took 0.6 ms
// on one thread and 2.1 ms in parts, 262144 corners 9.2 and 5.6 ms (bench/README.md).
constexpr std::size_t parallel_edges_from_corners = std::size_t{1} << 18;

}  // namespace

void Mesh::build_edges() {
    const std::uint32_t nv = vertex_count();
    // The size first: work_threads() asks the kernel, which a scene of many small meshes would pay per mesh.
    if (indices.size() >= parallel_edges_from_corners) {
        if (const unsigned threads = work_threads(); threads > 1) {
            detail::build_edges_in_parts(
                *this, threads, std::max(parallel_edges_from_corners / 4, indices.size() / (4 * std::size_t{threads})));
            return;
        }
    }
    const std::size_t polygons = offsets.size() - 1;
    check_polygons(offsets, indices, nv);
    // Each undirected edge is keyed by its smaller vertex. Bucket the corners by that vertex once, so
    // that finding an existing edge scans only the few edges that share it: linear time, no hashing.
    std::vector<std::uint32_t> bucket_start(static_cast<std::size_t>(nv) + 1, 0);
    auto corner_key = [&](std::size_t p, std::size_t c) {
        const std::uint32_t a = indices[c];
        const std::uint32_t b = indices[c + 1 < offsets[p + 1] ? c + 1 : offsets[p]];
        return std::pair{std::min(a, b), std::max(a, b)};
    };
    for (std::size_t p = 0; p < polygons; ++p)
        for (std::size_t c = offsets[p]; c < offsets[p + 1]; ++c) ++bucket_start[corner_key(p, c).first + 1];
    for (std::size_t v = 0; v < nv; ++v) bucket_start[v + 1] += bucket_start[v];

    struct Slot {
        std::uint32_t other;
        std::uint32_t edge;
    };
    // Every slot, corner edge and edge is written before it is read: no zero filling (for a large
    // mesh the fill would also fault every page in before the real writes).
    ScratchArray<Slot> slots(indices.size());
    std::vector<std::uint32_t> bucket_fill(nv, 0);
    corner_edges.clear();
    reserve_huge(corner_edges, indices.size());
    corner_edges.resize(indices.size());

    // Edges are numbered in the order of the corners that create them, so the edge table can be sized
    // exactly and filled afterwards instead of grown (and copied) while the count is unknown.
    std::uint32_t edge_count = 0;
    for (std::size_t p = 0; p < polygons; ++p) {
        for (std::size_t c = offsets[p]; c < offsets[p + 1]; ++c) {
            const auto [lo, hi] = corner_key(p, c);
            Slot* first = slots.get() + bucket_start[lo];
            Slot* last = first + bucket_fill[lo];
            Slot* hit = std::find_if(first, last, [hi = hi](const Slot& s) { return s.other == hi; });
            if (hit == last) {
                *last = Slot{hi, edge_count++};
                ++bucket_fill[lo];
                hit = last;
            }
            corner_edges[c] = hit->edge;
        }
    }
    slots.reset();

    edges.clear();
    edges.shrink_to_fit();
    reserve_huge(edges, 2 * std::size_t{edge_count});
    edges.resize(2 * std::size_t{edge_count});
    std::uint32_t created = 0;
    for (std::size_t p = 0; p < polygons; ++p) {
        for (std::size_t c = offsets[p]; c < offsets[p + 1]; ++c) {
            if (corner_edges[c] != created) continue;      // not the first corner on this edge
            edges[2 * std::size_t{created}] = indices[c];  // the creating polygon's order is kept
            edges[2 * std::size_t{created} + 1] = indices[c + 1 < offsets[p + 1] ? c + 1 : offsets[p]];
            ++created;
        }
    }
}

// The single pass numbers an edge when its first corner (in corner order) meets it. Here that corner,
// the edge's creator, is found per range of smaller vertices (each range sees its corners in corner
// order, so the first one met is the creator), then edges are numbered by counting creators over parts
// of the corners in order: the same numbers, the same vertex order, the same corner_edges.
void detail::build_edges_in_parts(Mesh& mesh, unsigned threads, std::size_t part_corners) {
    const auto& offsets = mesh.offsets;
    const auto& indices = mesh.indices;
    const std::uint32_t nv = mesh.vertex_count();
    check_polygons(offsets, indices, nv);
    const std::size_t polygons = offsets.size() - 1;
    const std::size_t corners = indices.size();
    mesh.corner_edges.clear();
    mesh.edges.clear();
    mesh.edges.shrink_to_fit();
    if (corners == 0) return;

    // Parts are whole polygons, so that every corner's next corner is in its own part.
    std::vector<std::size_t> part_begin{0};
    while (part_begin.back() < polygons) {
        const std::size_t from = offsets[part_begin.back()];
        const std::size_t want = from + std::max<std::size_t>(part_corners, 1);
        const auto it =
            std::lower_bound(offsets.begin() + static_cast<std::ptrdiff_t>(part_begin.back()) + 1, offsets.end(), want);
        part_begin.push_back(std::min(polygons, static_cast<std::size_t>(it - offsets.begin())));
    }
    const std::size_t parts = part_begin.size() - 1;
    // Ranges of 2^shift vertices (a shift, not a division, per corner): four to eight per thread, enough for
    // the threads to share them out evenly, few enough for the parts-by-ranges table to stay small.
    const std::size_t wanted_ranges = std::min<std::size_t>(nv, 8 * std::size_t{threads});
    const auto shift = static_cast<int>(std::bit_width((std::size_t{nv} - 1) / wanted_ranges));
    const std::size_t width = std::size_t{1} << shift;
    const std::size_t ranges = ((std::size_t{nv} - 1) >> shift) + 1;

    auto for_corners = [&](std::size_t k, auto&& visit) {
        for (std::size_t p = part_begin[k]; p < part_begin[k + 1]; ++p) {
            const std::size_t end = offsets[p + 1];
            for (std::size_t c = offsets[p]; c < end; ++c) {
                visit(c, indices[c], indices[c + 1 < end ? c + 1 : offsets[p]]);
            }
        }
    };

    // Corners by range of their smaller vertex, in corner order within each range: a counting sort
    // whose rows are the parts. `place[k * ranges + r]`: where part k's first corner of range r goes.
    std::vector<std::size_t> place(parts * ranges, 0);
    run_tasks(threads, parts, [&](std::size_t k) {
        std::size_t* row = place.data() + k * ranges;
        for_corners(k, [&](std::size_t, std::uint32_t a, std::uint32_t b) { ++row[std::min(a, b) >> shift]; });
    });
    std::vector<std::size_t> range_begin(ranges + 1, 0);
    for (std::size_t r = 0, at = 0; r < ranges; ++r) {
        range_begin[r] = at;
        for (std::size_t k = 0; k < parts; ++k) at += std::exchange(place[k * ranges + r], at);
        range_begin[r + 1] = at;
    }
    // Two numbers per corner, the corner and its next corner's vertex (its own is indices[corner], read in
    // increasing order within a range); afterwards the edge of each creator.
    ScratchArray<std::uint32_t> keys(2 * corners);
    std::uint32_t* const key = keys.get();
    run_tasks(threads, parts, [&](std::size_t k) {
        std::size_t* row = place.data() + k * ranges;
        for_corners(k, [&](std::size_t c, std::uint32_t a, std::uint32_t b) {
            std::uint32_t* to = key + 2 * row[std::min(a, b) >> shift]++;
            to[0] = static_cast<std::uint32_t>(c);
            to[1] = b;
        });
    });

    // corner_edges[c] holds c's creator for now; `made[r * parts + k]`: the edges part k creates in range r.
    reserve_huge(mesh.corner_edges, corners);
    mesh.corner_edges.resize(corners);
    std::uint32_t* const creator = mesh.corner_edges.data();
    std::vector<std::uint32_t> made(ranges * parts, 0);
    run_tasks(threads, ranges, [&](std::size_t r) {
        const std::uint32_t* first = key + 2 * range_begin[r];
        const std::size_t n = range_begin[r + 1] - range_begin[r];
        const std::size_t v0 = r * width;
        const std::size_t span = std::min<std::size_t>(width, nv - std::min<std::size_t>(nv, v0));
        std::vector<std::uint32_t> bucket_start(span + 1, 0);
        for (std::size_t i = 0; i < n; ++i) ++bucket_start[std::min(indices[first[2 * i]], first[2 * i + 1]) - v0 + 1];
        for (std::size_t v = 0; v < span; ++v) bucket_start[v + 1] += bucket_start[v];
        std::vector<std::uint32_t> bucket_fill(span, 0);
        struct Slot {
            std::uint32_t other;
            std::uint32_t creator;
        };
        const std::unique_ptr<Slot[]> slots(new Slot[n]);
        std::size_t i = 0;
        for (std::size_t k = 0; k < parts; ++k) {
            const std::size_t part_end = place[k * ranges + r] - range_begin[r];  // the scatter left it there
            std::uint32_t created = 0;
            for (; i < part_end; ++i) {
                const std::uint32_t c = first[2 * i], a = indices[c], b = first[2 * i + 1];
                const std::uint32_t lo = std::min(a, b), hi = std::max(a, b);
                Slot* const begin = slots.get() + bucket_start[lo - v0];
                Slot* const end = begin + bucket_fill[lo - v0];
                Slot* hit = std::find_if(begin, end, [hi](const Slot& s) { return s.other == hi; });
                if (hit == end) {
                    *end = Slot{hi, c};
                    ++bucket_fill[lo - v0];
                    ++created;
                }
                creator[c] = hit->creator;
            }
            made[r * parts + k] = created;
        }
    });

    // Edges numbered by the creators before each part, then every corner given its creator's number: at
    // once when the creator is in the corner's own part (always earlier in it), afterwards otherwise.
    std::vector<std::uint32_t> edges_before(parts + 1, 0);
    for (std::size_t k = 0; k < parts; ++k) {
        edges_before[k + 1] = edges_before[k];
        for (std::size_t r = 0; r < ranges; ++r) edges_before[k + 1] += made[r * parts + k];
    }
    reserve_huge(mesh.edges, 2 * std::size_t{edges_before[parts]});
    mesh.edges.resize(2 * std::size_t{edges_before[parts]});
    std::uint32_t* const edge_of = key;
    std::uint32_t* const edges = mesh.edges.data();
    std::vector<std::vector<std::uint32_t>> from_before(parts);  // corners whose creator is in an earlier part
    run_tasks(threads, parts, [&](std::size_t k) {
        std::uint32_t e = edges_before[k];
        const std::size_t own = offsets[part_begin[k]];
        for_corners(k, [&](std::size_t c, std::uint32_t a, std::uint32_t b) {
            const std::uint32_t from = creator[c];
            if (from == c) {  // the creating polygon's order is kept
                edge_of[c] = e;
                edges[2 * std::size_t{e}] = a;
                edges[2 * std::size_t{e} + 1] = b;
                creator[c] = e++;
            } else if (from >= own) {
                creator[c] = edge_of[from];
            } else {
                from_before[k].push_back(static_cast<std::uint32_t>(c));
            }
        });
    });
    run_tasks(threads, parts, [&](std::size_t k) {
        for (const std::uint32_t c : from_before[k]) creator[c] = edge_of[creator[c]];
    });
}

void SubComponent::add_all(std::uint32_t component_count) {
    if (live_ != 0 || listed() || in_order_ != 0) {
        for (std::uint32_t e = 0; e < component_count; ++e) add(e, component_count);
        return;
    }
    in_order_ = live_ = component_count;
    removed_.assign((std::size_t{component_count} + 63) / 64, 0);
}

void SubComponent::list() {
    members_.reserve(in_order_);
    position_.assign(in_order_, npos);
    for (std::uint32_t e = 0; e < in_order_; ++e) {
        if (removed(e)) {
            members_.push_back(npos);  // keeps the slots of the others where they were
        } else {
            position_[e] = e;
            members_.push_back(e);
        }
    }
    in_order_ = 0;
    removed_.clear();
}

void SubComponent::add(std::uint32_t element, std::uint32_t component_count) {
    if (element >= component_count || contains(element)) return;
    if (!listed()) {
        if (element == in_order_) {  // the next one in index order: the in-order form holds
            if (in_order_ % 64 == 0) removed_.push_back(0);
            ++in_order_;
            ++live_;
            return;
        }
        list();
    }
    if (position_.size() < component_count) position_.resize(component_count, npos);
    position_[element] = static_cast<std::uint32_t>(members_.size());
    members_.push_back(element);
    ++live_;
}

CRef NameIndex::find(const Store& store, std::wstring_view name) const {
    const auto it = entries_.find(name);
    if (it == entries_.end()) return {};
    const Object* obj = store.find(it->second.object.GetHandle());
    return obj && obj->name == name ? it->second.object : CRef();
}

void NameIndex::set(const std::wstring& name, const CRef& object) { entries_[name].object = object; }

void NameIndex::erase(const std::wstring& name, const CRef& object) {
    // The entry stays for its counter: the numbers already given out are not tried again.
    if (const auto it = entries_.find(name); it != entries_.end() && it->second.object == object)
        it->second.object = CRef();
}

Object& Store::adopt(std::unique_ptr<Object> obj, bool transient) {
    std::uint32_t id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
    } else {
        id = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
        meshes_.emplace_back();
        if (published_) XSI::detail::g_meshes = mesh_table();
    }
    Slot& slot = slots_[id];
    obj->self = CRef(CRef::Handle{static_cast<XSI::ULONG>(obj->class_id), id, slot.generation, 0});
    slot.object = std::move(obj);
    if (transient && !scopes_.empty()) scopes_.back().push_back(slot.object->self);
    return *slot.object;
}

void Store::remove(const CRef& ref) {
    const CRef::Handle h = ref.GetHandle();  // a copy: `ref` may be the object's own `self`
    if (!find(h)) return;
    meshes_[h.object] = XSI::detail::MeshView{};  // before the arrays go
    Slot& slot = slots_[h.object];
    slot.object.reset();
    // Every outstanding reference to the slot is now stale. A slot whose generations are used up is
    // retired rather than handing out generation 0 again.
    if (++slot.generation != 0) free_.push_back(h.object);
}

void Store::publish(const MeshObject& obj) {
    const CRef::Handle& h = obj.self.GetHandle();
    if (find(h) != &obj) return;
    const Mesh& m = obj.mesh;
    meshes_[h.object] = XSI::detail::MeshView{h.generation,     m.polygon_count(),     m.edge_count(),
                                              m.vertex_count(), m.positions.data(),    m.offsets.data(),
                                              m.indices.data(), m.corner_edges.data(), m.edges.data()};
}

void Store::clear() {
    for (std::uint32_t id = 0; id < slots_.size(); ++id) {
        if (slots_[id].object) remove(slots_[id].object->self);
    }
    scopes_.clear();
}

void Store::open_scope() { scopes_.emplace_back(); }

void Store::close_scope() {
    if (scopes_.empty()) return;
    const std::vector<CRef> refs = std::move(scopes_.back());
    scopes_.pop_back();
    for (const CRef& ref : refs) remove(ref);
}

}  // namespace torvel::host
