#include "stream.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <unordered_map>

#include "huge_pages.h"
#include "unique_names.h"

namespace torvel::importer::detail {

namespace {

constexpr char kMagic[4] = {'T', 'V', 'I', 'S'};
constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kObjectBytes = 24;
constexpr std::byte kZeros[4] = {};
constexpr std::size_t kStageBytes = 256 * 1024;  // stays in L2 between the read and the copy out

std::size_t pad4(std::size_t n) { return (4 - n % 4) % 4; }

// Reads T after T from bytes at any alignment (memcpy compiles to plain loads): a vector is filled from it
// in one pass, without first being zeroed.
template <class T>
class LoadIterator {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = T;

    explicit LoadIterator(const std::byte* p) : p_(p) {}
    T operator*() const {
        T v;
        std::memcpy(&v, p_, sizeof v);
        return v;
    }
    T operator[](difference_type n) const { return *(*this + n); }
    LoadIterator& operator++() { return *this += 1; }
    LoadIterator operator++(int) {
        LoadIterator old = *this;
        *this += 1;
        return old;
    }
    LoadIterator& operator--() { return *this -= 1; }
    LoadIterator operator--(int) {
        LoadIterator old = *this;
        *this -= 1;
        return old;
    }
    LoadIterator& operator+=(difference_type n) {
        p_ += n * static_cast<difference_type>(sizeof(T));
        return *this;
    }
    LoadIterator& operator-=(difference_type n) { return *this += -n; }
    friend LoadIterator operator+(LoadIterator it, difference_type n) { return it += n; }
    friend LoadIterator operator+(difference_type n, LoadIterator it) { return it += n; }
    friend LoadIterator operator-(LoadIterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const LoadIterator& a, const LoadIterator& b) {
        return (a.p_ - b.p_) / static_cast<difference_type>(sizeof(T));
    }
    friend bool operator==(const LoadIterator& a, const LoadIterator& b) { return a.p_ == b.p_; }
    friend auto operator<=>(const LoadIterator& a, const LoadIterator& b) { return a.p_ <=> b.p_; }

private:
    const std::byte* p_;
};

// Sequential reads from an untrusted source, counted against the total its header announced.
class Reader {
public:
    explicit Reader(ByteSource& src) : src_(src) {}

    std::uint64_t left() const { return total_ - pos_; }
    void set_total(std::uint64_t total) { total_ = total; }

    void check_fits(std::uint64_t size, const char* what) const {
        if (size > left())
            fail(std::string(what) + ": " + std::to_string(size) + " bytes, but the stream has " +
                 std::to_string(left()) + " left");
    }
    // Exactly `size` bytes, which the total must still cover.
    void read(void* data, std::size_t size, const char* what) {
        check_fits(size, what);
        raw(data, size, what);
    }
    std::string text(std::size_t size, const char* what) {
        check_fits(size, what);
        std::string s(size, '\0');
        raw(s.data(), size, what);
        skip_padding(size, what);
        return s;
    }
    // `count` values of T appended to `v` as V, through the stage; `check` sees each staged block first.
    template <class T, class V, class Check>
    void array(std::vector<V>& v, std::uint64_t count, const char* what, Check check) {
        if (count > left() / sizeof(T))
            fail(std::string(what) + ": " + std::to_string(count) + " values, but the stream has " +
                 std::to_string(left()) + " bytes left");
        // Sized once for all of it (the total bounds it): no growth copies, and huge pages for a large
        // array (a fresh page fault per 4 KiB is most of what filling costs on a VM). The arrays of later
        // objects join those of the first: they grow by half at least, so that many objects do not copy
        // the arrays once each.
        if (const std::size_t need = v.size() + static_cast<std::size_t>(count); need > v.capacity())
            reserve_huge(v, v.empty() ? need : std::max(need, v.capacity() + v.capacity() / 2));
        const std::size_t per_block = kStageBytes / sizeof(T);
        stage_.resize(std::max(stage_.size(), std::min<std::size_t>(kStageBytes, count * sizeof(T))));
        for (std::uint64_t done = 0; done < count;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(per_block, count - done));
            raw(stage_.data(), n * sizeof(T), what);
            const LoadIterator<T> first(stage_.data());
            check(first, n);
            v.insert(v.end(), first, first + static_cast<std::ptrdiff_t>(n));
            done += n;
        }
    }
    void skip_padding(std::size_t after, const char* what) {
        std::byte pad[4];
        read(pad, pad4(after), what);
        for (std::size_t i = 0; i < pad4(after); ++i)
            if (pad[i] != std::byte{0}) fail(std::string("non-zero padding after ") + what);
    }
    void expect_end() {
        std::byte extra;
        if (src_.read(&extra, 1) != 0) fail("more bytes than the header announced");
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw StreamError(what + " (at byte " + std::to_string(pos_) + ")");
    }

private:
    void raw(void* data, std::size_t size, const char* what) {
        auto* p = static_cast<std::byte*>(data);
        while (size > 0) {
            const std::size_t n = src_.read(p, size);
            if (n == 0) fail(std::string("the stream ended in ") + what);
            p += n;
            size -= n;
            pos_ += n;
        }
    }

    ByteSource& src_;
    std::vector<std::byte> stage_;
    std::uint64_t pos_ = 0;
    std::uint64_t total_ = kHeaderBytes;
};

void no_check(LoadIterator<std::uint32_t>, std::size_t) {}

// Object `number` appended to `mesh`: its vertices after those there, its polygons after theirs.
void read_object(Reader& in, std::uint32_t number, PolygonMesh& mesh, std::uint32_t& mesh_index) {
    const std::string where = "object " + std::to_string(number);
    std::uint32_t f[6];
    in.read(f, sizeof f, "an object record");
    mesh_index = f[0];
    const std::uint32_t name_size = f[1], vertices = f[2], polygons = f[3], corners = f[4];
    if (f[5] != 0) in.fail(where + ": reserved field is not zero");
    if (vertices == 0 || polygons == 0) in.fail(where + ": no vertices or no polygons");
    if (corners / 3 < polygons) in.fail(where + ": fewer than 3 corners per polygon");
    const std::uint64_t vertex_base = mesh.vertex_count(), corner_base = mesh.indices.size();
    if (vertex_base + vertices > UINT32_MAX || corner_base + corners > UINT32_MAX)
        in.fail(where + ": the objects have more than 4294967295 vertices or corners together");
    mesh.objects.push_back({in.text(name_size, "an object name"), static_cast<std::uint32_t>(mesh.polygon_count()),
                            static_cast<std::uint32_t>(vertex_base)});

    unsigned not_finite = 0;
    in.array<float>(mesh.positions, std::uint64_t{vertices} * 3, "positions",
                    [&](LoadIterator<float> it, std::size_t n) {
                        for (std::size_t i = 0; i < n; ++i) {
                            const float c = it[static_cast<std::ptrdiff_t>(i)];
                            not_finite |= !(c - c == 0);  // inf - inf and NaN - NaN are NaN
                        }
                    });
    if (not_finite) in.fail(where + ": a coordinate that is not finite");
    // The object's first offset, 0 in the stream, takes the place of the end of the polygons before it.
    const std::size_t at = mesh.offsets.size() - 1;
    mesh.offsets.pop_back();
    in.array<std::uint32_t>(mesh.offsets, std::uint64_t{polygons} + 1, "polygon offsets", no_check);
    in.array<std::uint32_t>(mesh.indices, corners, "vertex indices", no_check);

    const std::span<std::uint32_t> offsets(mesh.offsets.data() + at, std::size_t{polygons} + 1);
    const std::span<std::uint32_t> indices(mesh.indices.data() + corner_base, corners);
    if (offsets.front() != 0 || offsets.back() != corners) in.fail(where + ": offsets do not span the indices");
    for (std::size_t i = 1; i < offsets.size(); ++i)
        if (offsets[i] < offsets[i - 1] || offsets[i] - offsets[i - 1] < 3)
            in.fail(where + ": polygon " + std::to_string(i - 1) + " has fewer than 3 corners");
    std::uint32_t highest = 0;
    for (std::uint32_t v : indices) highest = v > highest ? v : highest;
    if (highest >= vertices)
        in.fail(where + ": vertex index " + std::to_string(highest) + " out of range (" + std::to_string(vertices) +
                " vertices)");
    if (vertex_base > 0) {
        for (std::uint32_t& v : indices) v += static_cast<std::uint32_t>(vertex_base);
        for (std::uint32_t& o : offsets) o += static_cast<std::uint32_t>(corner_base);
    }
}

}  // namespace

void VectorSink::write(const void* data, std::size_t size) {
    if (size == 0) return;
    const auto* p = static_cast<const std::byte*>(data);
    bytes.insert(bytes.end(), p, p + size);
}

void StreamWriter::padded(std::string_view text) {
    sink_.write(text.data(), text.size());
    sink_.write(kZeros, pad4(text.size()));
}

std::uint64_t header_size(std::size_t text_size) { return kHeaderBytes + text_size + pad4(text_size); }

std::uint64_t object_size(std::size_t name_size, std::uint64_t vertices, std::uint64_t polygons,
                          std::uint64_t corners) {
    return kObjectBytes + name_size + pad4(name_size) + vertices * 12 + (polygons + 1) * 4 + corners * 4;
}

std::size_t SpanSource::read(void* data, std::size_t size) {
    const std::size_t n = std::min(size, bytes_.size());
    if (n > 0) std::memcpy(data, bytes_.data(), n);
    bytes_ = bytes_.subspan(n);
    return n;
}

void StreamWriter::header(Kind kind, std::uint64_t total, std::uint32_t objects, std::uint64_t points,
                          std::uint64_t lines, std::string_view text) {
    std::byte h[kHeaderBytes] = {};
    const std::uint32_t words[] = {kStreamVersion, static_cast<std::uint32_t>(kind), objects,
                                   static_cast<std::uint32_t>(text.size()), 0};
    const std::uint64_t wide[] = {total, points, lines};
    std::memcpy(h, kMagic, 4);
    std::memcpy(h + 4, words, sizeof words);
    std::memcpy(h + 24, wide, sizeof wide);
    sink_.write(h, sizeof h);
    padded(text);
}

void StreamWriter::object(std::uint32_t mesh_index, std::string_view name, std::uint32_t vertices,
                          std::uint32_t polygons, std::uint32_t corners) {
    const std::uint32_t words[6] = {mesh_index, static_cast<std::uint32_t>(name.size()), vertices, polygons, corners,
                                    0};
    sink_.write(words, sizeof words);
    padded(name);
}

Decoded decode_stream(ByteSource& src, std::uint64_t max_total) {
    Reader in(src);
    std::byte h[kHeaderBytes];
    in.read(h, sizeof h, "the header");
    if (std::memcmp(h, kMagic, 4) != 0) in.fail("not an import stream (bad magic)");
    std::uint32_t w[5];
    std::uint64_t wide[3];
    std::memcpy(w, h + 4, sizeof w);
    std::memcpy(wide, h + 24, sizeof wide);
    if (w[0] != kStreamVersion) in.fail("stream version " + std::to_string(w[0]) + ", expected 1");
    if (w[4] != 0) in.fail("reserved header field is not zero");
    if (w[1] < 1 || w[1] > 3) in.fail("unknown stream kind " + std::to_string(w[1]));
    Decoded d;
    d.kind = static_cast<Kind>(w[1]);
    const std::uint32_t objects = w[2], text_size = w[3];
    const std::uint64_t total = wide[0];
    d.result.skipped_points = wide[1];
    d.result.skipped_lines = wide[2];
    if (total > max_total)
        in.fail("the stream claims " + std::to_string(total) + " bytes, more than the " + std::to_string(max_total) +
                " allowed");
    if (total < kHeaderBytes) in.fail("the stream claims " + std::to_string(total) + " bytes, less than its header");
    in.set_total(total);

    d.text = in.text(text_size, "the text");
    if (d.kind != Kind::result && objects != 0) in.fail("objects in a stream that reports a failure");
    // Each object takes at least its record: a count that cannot fit is refused before reserving.
    if (objects > in.left() / kObjectBytes) in.fail(std::to_string(objects) + " objects cannot fit");
    d.result.mesh.objects.reserve(objects);
    d.mesh_indices.resize(objects);
    for (std::uint32_t i = 0; i < objects; ++i) {
        read_object(in, i, d.result.mesh, d.mesh_indices[i]);
        if (i > 0 && d.mesh_indices[i] <= d.mesh_indices[i - 1])
            in.fail("object " + std::to_string(i) + ": mesh indices out of order");
    }
    if (in.left() != 0) in.fail("the stream ends " + std::to_string(in.left()) + " bytes before its announced total");
    in.expect_end();
    return d;
}

Decoded decode_stream(std::span<const std::byte> bytes) {
    SpanSource src(bytes);
    return decode_stream(src, bytes.size());
}

void assign_names(PolygonMesh& mesh, std::span<const std::uint32_t> mesh_indices) {
    std::vector<PolygonMesh::Object>& objects = mesh.objects;
    std::vector<std::string> wanted;
    wanted.reserve(objects.size());
    mesh.source_names.clear();
    mesh.source_names.reserve(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        mesh.source_names.push_back(objects[i].name);
        wanted.push_back(objects[i].name.empty() ? "mesh" + std::to_string(mesh_indices[i]) : objects[i].name);
    }
    std::unordered_map<std::string, std::uint32_t> next;
    std::vector<std::string> names = unique_names<std::string>(
        wanted, [](const std::string&) { return false; },
        [&next](const std::string& base) -> std::uint32_t& { return next.try_emplace(base, 1).first->second; });
    for (std::size_t i = 0; i < objects.size(); ++i) objects[i].name = std::move(names[i]);
}

}  // namespace torvel::importer::detail
