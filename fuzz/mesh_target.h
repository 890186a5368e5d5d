// Shared body of the mesh-reader fuzz targets: a parser on arbitrary bytes must either return a
// consistent mesh or throw MeshError.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

#include "mesh_io.h"

template <class Parse>
int fuzz_mesh_reader(Parse parse, const unsigned char* data, std::size_t size, const std::string& name) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const torvel::PolygonMesh m = parse(bytes, name);
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
