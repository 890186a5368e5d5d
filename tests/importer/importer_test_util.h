// Helpers shared by the importer tests: scratch directories, scenes built in code and written with
// Assimp's own exporter, and polygons compared by their corners' coordinates.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "importer.h"

struct aiScene;

namespace imptest {

// A fresh directory under the system temp dir, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return dir_; }
    std::filesystem::path write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path dir_;
};

struct TestMesh {
    std::string name;
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::vector<unsigned>> faces;  // 1 index: a point, 2: a line
};
struct TestNode {
    std::string name;
    std::vector<unsigned> meshes;
};

// A scene of `meshes`, each referenced by the root's children `nodes` (in that order).
std::unique_ptr<aiScene> make_scene(const std::vector<TestMesh>& meshes, const std::vector<TestNode>& nodes);

// Writes `scene` with Assimp's exporter `format` ("collada", "fbxa", "gltf2", "3ds", "x", "ply", ...).
void export_scene(const aiScene& scene, const char* format, const std::filesystem::path& out);

// Runs f, expects an ImportError whose message contains every one of `parts`.
void expect_error(const std::function<void()>& f, std::initializer_list<std::string> parts);

using Corner = std::array<double, 3>;
using Polygon = std::vector<Corner>;

// Polygon i as the coordinates of its corners, in order.
// Any mesh of positions, offsets and indices (an imported object, a mesh torvel's own readers made).
template <class Mesh>
std::vector<Polygon> polygons(const Mesh& o) {
    std::vector<Polygon> out;
    for (std::size_t p = 0; p < o.polygon_count(); ++p) {
        Polygon poly;
        for (std::uint32_t k = o.offsets[p]; k < o.offsets[p + 1]; ++k) {
            const std::size_t v = o.indices[k];
            poly.push_back({o.positions[3 * v], o.positions[3 * v + 1], o.positions[3 * v + 2]});
        }
        out.push_back(poly);
    }
    return out;
}
std::vector<Polygon> polygons(const TestMesh& m);  // the faces of 3 or more indices

// Object k of an import as a mesh of its own: its polygons and its range of vertices, the indices
// counted from the range's start. Fails the test when the object reaches outside its vertices.
torvel::PolygonMesh object_mesh(const torvel::importer::ImportResult& r, std::size_t k);

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();

private:
    std::string name_;
};

}  // namespace imptest
