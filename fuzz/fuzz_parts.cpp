// libFuzzer target: the readers and the edge table in parts on several threads against one thread, on
// arbitrary bytes. Both must give the same mesh (the same doubles, bit for bit) or the same first error.
// The first byte sets the part size, so that the cuts fall everywhere in small inputs.
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "mesh_io.h"
#include "obj_parts.h"
#include "objects.h"
#include "off_parts.h"
#include "ply_parts.h"

namespace {

using torvel::PolygonMesh;

struct Outcome {
    PolygonMesh mesh;
    std::string error;  // empty when the bytes were read
};

template <class Parse>
Outcome outcome(Parse parse) {
    try {
        return {parse(), {}};
    } catch (const torvel::io::MeshError& e) {
        return {{}, e.what()};
    }
}

bool same(const PolygonMesh& a, const PolygonMesh& b) {
    if (a.objects.size() != b.objects.size()) return false;
    for (std::size_t i = 0; i < a.objects.size(); ++i)
        if (a.objects[i].name != b.objects[i].name || a.objects[i].first != b.objects[i].first) return false;
    return a.positions.size() == b.positions.size() &&
           (a.positions.empty() ||
            std::memcmp(a.positions.data(), b.positions.data(), a.positions.size() * sizeof(double)) == 0) &&
           a.offsets == b.offsets && a.indices == b.indices && a.warnings == b.warnings && a.face_lines == b.face_lines;
}

void expect_same(const Outcome& one, const Outcome& parts) {
    if (one.error != parts.error || (one.error.empty() && !same(one.mesh, parts.mesh))) std::abort();
}

std::string edges_of(torvel::host::Mesh& mesh, unsigned threads, std::size_t part_corners) {
    try {
        if (threads == 1)
            mesh.build_edges();
        else
            torvel::host::detail::build_edges_in_parts(mesh, threads, part_corners);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return {};
}

// The edge table of a mesh a reader returned, in parts against the single pass.
void expect_same_edges(const PolygonMesh& m, std::size_t part_corners) {
    torvel::host::Mesh one, parts;
    one.positions = parts.positions = m.positions;
    one.offsets = parts.offsets = m.offsets;
    one.indices = parts.indices = m.indices;
    if (edges_of(one, 1, 0) != edges_of(parts, 2, part_corners)) std::abort();
    if (!std::equal(one.edges.begin(), one.edges.end(), parts.edges.begin(), parts.edges.end()) ||
        !std::equal(one.corner_edges.begin(), one.corner_edges.end(), parts.corner_edges.begin(),
                    parts.corner_edges.end()))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t part = 1 + data[0] % 64;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    namespace io = torvel::io;
    const Outcome obj = outcome([&] { return io::parse_obj(bytes, "fuzz.obj"); });
    expect_same(obj, outcome([&] { return io::detail::parse_obj_in_parts(bytes, "fuzz.obj", 2, part); }));
    const Outcome ply = outcome([&] { return io::parse_ply(bytes, "fuzz.ply"); });
    expect_same(ply, outcome([&] { return io::detail::parse_ply_in_parts(bytes, "fuzz.ply", 2, part); }));
    const Outcome off = outcome([&] { return io::parse_off(bytes, "fuzz.off"); });
    expect_same(off, outcome([&] { return io::detail::parse_off_in_parts(bytes, "fuzz.off", 2, part); }));
    for (const Outcome* o : {&obj, &ply, &off})
        if (o->error.empty()) expect_same_edges(o->mesh, part);
    return 0;
}
