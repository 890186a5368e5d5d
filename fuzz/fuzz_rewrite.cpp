// libFuzzer target: the lossless rewriter over arbitrary bytes with arbitrary splits. The first byte picks
// the format and the next ones how faces are cut; whatever parses must come back with exactly the
// pieces asked for in place of each split face and every other face as it was, or fail with MeshError.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "mesh_io.h"
#include "mesh_rewrite.h"

namespace io = torvel::io;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 3) return 0;
    const io::Format format = data[0] % 3 == 0 ? io::Format::obj : data[0] % 3 == 1 ? io::Format::ply : io::Format::off;
    const unsigned char pick = data[1];
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const auto parse = format == io::Format::obj   ? io::parse_obj
                       : format == io::Format::ply ? io::parse_ply
                                                   : io::parse_off;
    torvel::PolygonMesh mesh;
    try {
        mesh = parse(bytes, "fuzz");
    } catch (const io::MeshError&) {
        return 0;
    }
    // Faces chosen by the bits of `pick`; each is cut into a fan of triangles, or into two pieces
    // across from corner 0, or (when it has 3 corners) kept whole as its one piece.
    std::vector<io::PolygonPieces> splits;
    std::vector<std::vector<std::uint32_t>> expected;
    for (std::uint32_t p = 0; p < mesh.polygon_count(); ++p) {
        const std::uint32_t first = mesh.offsets[p], n = mesh.offsets[p + 1] - first;
        if (!((pick >> (p % 8)) & 1) || n > 64) {
            expected.emplace_back(mesh.indices.begin() + first, mesh.indices.begin() + first + n);
            continue;
        }
        io::PolygonPieces s{p, {0}, {}};
        auto piece = [&](std::vector<std::uint32_t> corners) {
            std::vector<std::uint32_t> vertices;
            for (std::uint32_t c : corners) vertices.push_back(mesh.indices[first + c]);
            expected.push_back(vertices);
            s.corners.insert(s.corners.end(), corners.begin(), corners.end());
            s.offsets.push_back(static_cast<std::uint32_t>(s.corners.size()));
        };
        if (n >= 4 && (p & 1)) {
            const std::uint32_t mid = 2 + (pick % (n - 3));
            std::vector<std::uint32_t> a, b;
            for (std::uint32_t c = 0; c <= mid; ++c) a.push_back(c);
            b.push_back(0);
            for (std::uint32_t c = mid; c < n; ++c) b.push_back(c);
            piece(a);
            piece(b);
        } else {
            for (std::uint32_t c = 1; c + 1 < n; ++c) piece({0, c, c + 1});
        }
        splits.push_back(std::move(s));
    }
    std::string out;
    try {
        out = io::split_polygons_in_file(bytes, format, "fuzz", splits, &mesh);
    } catch (const io::MeshError&) {
        std::abort();  // the bytes parsed and the splits fit them: the rewrite must succeed
    }
    torvel::PolygonMesh back;
    try {
        back = parse(out, "out");
    } catch (const io::MeshError&) {
        std::abort();
    }
    if (back.positions != mesh.positions) std::abort();
    if (back.polygon_count() != expected.size()) std::abort();
    for (std::size_t q = 0; q < expected.size(); ++q)
        if (std::vector<std::uint32_t>(back.indices.begin() + back.offsets[q],
                                       back.indices.begin() + back.offsets[q + 1]) != expected[q])
            std::abort();
    return 0;
}
