#include "mesh_check.h"

#include <cmath>
#include <limits>

#include "errors.h"

namespace torvel {

namespace {

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

[[noreturn]] void bad(const std::string& what) { throw UsageError("the mesh's " + what); }

std::string at(const char* array, std::size_t k) { return std::string(array) + "[" + std::to_string(k) + "]"; }

}  // namespace

void check_mesh_arrays(const MeshView& mesh, bool finite) {
    if (mesh.positions.size() % 3 != 0)
        bad("positions: " + std::to_string(mesh.positions.size()) + " values, not x, y, z per vertex");
    if (mesh.vertex_count() > kMax32) bad("positions: more than 2^32 - 1 vertices");
    if (finite)
        for (std::size_t k = 0; k < mesh.positions.size(); ++k)
            if (!std::isfinite(mesh.positions[k])) bad(at("positions", k) + " is not finite");
    if (mesh.indices.size() > kMax32) bad("indices: more than 2^32 - 1 corners");
    if (mesh.offsets.empty()) {
        if (!mesh.indices.empty()) bad("offsets are empty but there are indices");
        return;
    }
    if (mesh.offsets[0] != 0) bad(at("offsets", 0) + " is " + std::to_string(mesh.offsets[0]) + ", not 0");
    for (std::size_t p = 1; p < mesh.offsets.size(); ++p) {
        if (mesh.offsets[p] > mesh.indices.size())
            bad(at("offsets", p) + " is " + std::to_string(mesh.offsets[p]) + ", past the " +
                std::to_string(mesh.indices.size()) + " indices");
        if (mesh.offsets[p] < mesh.offsets[p - 1] + std::uint64_t{3})
            bad(at("offsets", p) + " is " + std::to_string(mesh.offsets[p]) + ": polygon " + std::to_string(p - 1) +
                " has fewer than 3 corners");
    }
    if (mesh.offsets.back() != mesh.indices.size())
        bad(at("offsets", mesh.offsets.size() - 1) + " is " + std::to_string(mesh.offsets.back()) + ", not the " +
            std::to_string(mesh.indices.size()) + " indices");
    const std::size_t vertices = mesh.vertex_count();
    for (std::size_t k = 0; k < mesh.indices.size(); ++k)
        if (mesh.indices[k] >= vertices)
            bad(at("indices", k) + " is " + std::to_string(mesh.indices[k]) + ", past the " + std::to_string(vertices) +
                " vertices");
}

void check_mesh_arrays(const PolygonMesh& mesh, bool finite) {
    if (mesh.offsets.empty()) bad("offsets are empty (a mesh without polygons has offsets {0})");
    const MeshView view = mesh.view();
    check_mesh_arrays(view, finite);
    const std::size_t polygons = mesh.polygon_count();
    const auto& objects = mesh.objects;
    bool ranged = false;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        ranged = ranged || objects[k].first_vertex != 0;
        if (k == 0 && objects[0].first != 0) bad("objects[0].first is " + std::to_string(objects[0].first) + ", not 0");
        if (k > 0 && objects[k].first <= objects[k - 1].first)
            bad(at("objects", k) + ".first is " + std::to_string(objects[k].first) + ": object " +
                std::to_string(k - 1) + " has no polygon");
        if (objects.size() > 1 && objects[k].first >= polygons)
            bad(at("objects", k) + ".first is " + std::to_string(objects[k].first) + ", past the " +
                std::to_string(polygons) + " polygons");
    }
    if (ranged)
        for (std::size_t k = 0; k < objects.size(); ++k) {
            const std::uint64_t begin = objects[k].first_vertex;
            const std::uint64_t end = k + 1 < objects.size() ? objects[k + 1].first_vertex : mesh.vertex_count();
            if (begin > end || end > mesh.vertex_count())
                bad(at("objects", k) + ".first_vertex is " + std::to_string(begin) +
                    ": the objects' vertex ranges do not follow each other within the vertices");
            for (std::uint32_t i = mesh.offsets[objects[k].first]; i < mesh.offsets[mesh.object_end(k)]; ++i)
                if (mesh.indices[i] < begin || mesh.indices[i] >= end)
                    bad(at("indices", i) + " is " + std::to_string(mesh.indices[i]) + ", outside object " +
                        std::to_string(k) + "'s vertices " + std::to_string(begin) + " to " + std::to_string(end));
        }
    if (!mesh.source_names.empty() && mesh.source_names.size() != objects.size())
        bad("source_names: " + std::to_string(mesh.source_names.size()) + " names for " +
            std::to_string(objects.size()) + " objects");
    if (!mesh.face_lines.empty() && mesh.face_lines.size() != polygons)
        bad("face_lines: " + std::to_string(mesh.face_lines.size()) + " lines for " + std::to_string(polygons) +
            " polygons");
}

}  // namespace torvel
