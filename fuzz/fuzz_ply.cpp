// libFuzzer target: parse_ply on arbitrary bytes must either return a consistent mesh or throw MeshError.
#include "mesh_io.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const torvel::io::MeshData m = torvel::io::parse_ply(bytes, "fuzz.ply");
        // Whatever is returned must be usable as it stands.
        if (m.positions.size() % 3 != 0 || m.offsets.empty() || m.offsets.front() != 0 ||
            m.offsets.back() != m.indices.size())
            std::abort();
        for (std::size_t i = 1; i < m.offsets.size(); ++i)
            if (m.offsets[i] < m.offsets[i - 1] + 3) std::abort();
        for (auto v : m.indices)
            if (v >= m.vertex_count()) std::abort();
    } catch (const torvel::io::MeshError&) {
    }
    return 0;
}
