// libFuzzer target: the stream the import child sends (importer/src/stream.h), decoded as torvel
// decodes it, whole and a few bytes per read as a pipe hands it out. Whatever the bytes, the decoder
// either throws StreamError or returns one mesh that keeps every rule of ImportResult's: the objects
// in order, each with polygons and vertices of its own.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <span>

#include "stream.h"

using namespace torvel::importer;
using namespace torvel::importer::detail;

namespace {

// At most `step` bytes per read.
class Chunks final : public ByteSource {
public:
    Chunks(std::span<const std::byte> bytes, std::size_t step) : bytes_(bytes), step_(step) {}
    std::size_t read(void* data, std::size_t size) override {
        const std::size_t n = std::min({size, step_, bytes_.size()});
        if (n > 0) std::memcpy(data, bytes_.data(), n);
        bytes_ = bytes_.subspan(n);
        return n;
    }

private:
    std::span<const std::byte> bytes_;
    std::size_t step_;
};

void check(Decoded& d) {
    const torvel::PolygonMesh& m = d.result.mesh;
    if (d.kind != Kind::result) {
        if (!m.objects.empty() || m.polygon_count() != 0) std::abort();
        return;
    }
    if (d.mesh_indices.size() != m.objects.size()) std::abort();
    if (m.positions.size() % 3 != 0 || m.offsets.empty() || m.offsets.front() != 0 ||
        m.offsets.back() != m.indices.size())
        std::abort();
    for (double c : m.positions)
        if (!std::isfinite(c)) std::abort();
    for (std::size_t p = 1; p < m.offsets.size(); ++p)
        if (m.offsets[p] < m.offsets[p - 1] + 3) std::abort();
    if (m.objects.empty() ? m.polygon_count() != 0 || m.vertex_count() != 0 : m.objects[0].first != 0) std::abort();
    for (std::size_t i = 0; i < m.objects.size(); ++i) {
        const torvel::PolygonMesh::Object& o = m.objects[i];
        const std::size_t vertex_end = i + 1 < m.objects.size() ? m.objects[i + 1].first_vertex : m.vertex_count();
        if (i > 0 && (d.mesh_indices[i] <= d.mesh_indices[i - 1] || o.first <= m.objects[i - 1].first ||
                      o.first_vertex <= m.objects[i - 1].first_vertex))
            std::abort();
        if (i == 0 && o.first_vertex != 0) std::abort();
        if (o.first >= m.object_end(i) || o.first_vertex >= vertex_end || vertex_end > m.vertex_count()) std::abort();
        for (std::uint32_t c = m.offsets[o.first]; c < m.offsets[m.object_end(i)]; ++c)
            if (m.indices[c] < o.first_vertex || m.indices[c] >= vertex_end) std::abort();
    }
    torvel::PolygonMesh named = m;
    assign_names(named, d.mesh_indices);
    std::set<std::string> names;
    for (const torvel::PolygonMesh::Object& o : named.objects)
        if (o.name.empty() || !names.insert(o.name).second) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    bool whole = false;
    try {
        Decoded d = decode_stream(bytes);
        whole = true;
        check(d);
    } catch (const StreamError&) {
    }
    // The same bytes in pieces must get the same verdict.
    Chunks pieces(bytes, 1 + (size > 0 ? data[size / 2] % 61 : 0));
    try {
        Decoded d = decode_stream(pieces, size);
        if (!whole) std::abort();
        check(d);
    } catch (const StreamError&) {
        if (whole) std::abort();
    }
    return 0;
}
