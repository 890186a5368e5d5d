// libFuzzer target: the stream the import child sends (importer/src/stream.h), decoded as torvel
// decodes it, whole and a few bytes per read as a pipe hands it out. Whatever the bytes, the decoder
// either throws StreamError or returns objects that keep every rule of ImportedObject.
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
    if (d.kind != Kind::result) {
        if (!d.result.objects.empty()) std::abort();
        return;
    }
    if (d.mesh_indices.size() != d.result.objects.size()) std::abort();
    for (std::size_t i = 0; i < d.result.objects.size(); ++i) {
        const ImportedObject& o = d.result.objects[i];
        if (i > 0 && d.mesh_indices[i] <= d.mesh_indices[i - 1]) std::abort();
        if (o.positions.empty() || o.positions.size() % 3 != 0) std::abort();
        for (double c : o.positions)
            if (!std::isfinite(c)) std::abort();
        if (o.offsets.size() < 2 || o.offsets.front() != 0 || o.offsets.back() != o.indices.size()) std::abort();
        for (std::size_t p = 1; p < o.offsets.size(); ++p)
            if (o.offsets[p] < o.offsets[p - 1] + 3) std::abort();
        for (std::uint32_t v : o.indices)
            if (v >= o.vertex_count()) std::abort();
    }
    assign_names(d.result.objects, d.mesh_indices);
    std::set<std::string> names;
    for (const ImportedObject& o : d.result.objects)
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
