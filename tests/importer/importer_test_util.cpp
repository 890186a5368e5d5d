#include "importer_test_util.h"

#include <assimp/Exporter.hpp>
#include <assimp/scene.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace imptest {

TempDir::TempDir() {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("torvel_importer_test_" + std::to_string(rd()));
    fs::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

fs::path TempDir::write(const std::string& name, const std::string& bytes) const {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
}

std::unique_ptr<aiScene> make_scene(const std::vector<TestMesh>& meshes, const std::vector<TestNode>& nodes) {
    auto scene = std::make_unique<aiScene>();
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial* [1] { new aiMaterial };
    scene->mNumMeshes = static_cast<unsigned>(meshes.size());
    scene->mMeshes = new aiMesh*[meshes.size()];
    for (std::size_t i = 0; i < meshes.size(); ++i) {
        const TestMesh& want = meshes[i];
        auto* m = new aiMesh;
        m->mName = want.name;
        m->mMaterialIndex = 0;
        m->mNumVertices = static_cast<unsigned>(want.vertices.size());
        m->mVertices = new aiVector3D[want.vertices.size()];
        for (std::size_t v = 0; v < want.vertices.size(); ++v)
            m->mVertices[v] = aiVector3D(want.vertices[v][0], want.vertices[v][1], want.vertices[v][2]);
        m->mNumFaces = static_cast<unsigned>(want.faces.size());
        m->mFaces = new aiFace[want.faces.size()];
        for (std::size_t f = 0; f < want.faces.size(); ++f) {
            aiFace& face = m->mFaces[f];
            face.mNumIndices = static_cast<unsigned>(want.faces[f].size());
            face.mIndices = new unsigned[face.mNumIndices];
            std::copy(want.faces[f].begin(), want.faces[f].end(), face.mIndices);
            const unsigned n = face.mNumIndices;
            m->mPrimitiveTypes |= n == 1   ? aiPrimitiveType_POINT
                                  : n == 2 ? aiPrimitiveType_LINE
                                  : n == 3 ? aiPrimitiveType_TRIANGLE
                                           : aiPrimitiveType_POLYGON;
        }
        scene->mMeshes[i] = m;
    }
    scene->mRootNode = new aiNode("root");
    scene->mRootNode->mNumChildren = static_cast<unsigned>(nodes.size());
    scene->mRootNode->mChildren = new aiNode*[nodes.size()];
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        auto* node = new aiNode(nodes[n].name);
        node->mParent = scene->mRootNode;
        node->mNumMeshes = static_cast<unsigned>(nodes[n].meshes.size());
        node->mMeshes = new unsigned[nodes[n].meshes.size()];
        std::copy(nodes[n].meshes.begin(), nodes[n].meshes.end(), node->mMeshes);
        scene->mRootNode->mChildren[n] = node;
    }
    return scene;
}

void export_scene(const aiScene& scene, const char* format, const fs::path& out) {
    Assimp::Exporter exporter;
    ASSERT_EQ(exporter.Export(&scene, format, out.string()), AI_SUCCESS) << format << ": " << exporter.GetErrorString();
}

void expect_error(const std::function<void()>& f, std::initializer_list<std::string> parts) {
    try {
        f();
        ADD_FAILURE() << "no ImportError; expected one containing " << *parts.begin();
    } catch (const torvel::importer::ImportError& e) {
        const std::string what = e.what();
        for (const std::string& part : parts)
            EXPECT_NE(what.find(part), std::string::npos) << "\"" << what << "\" lacks \"" << part << "\"";
    }
}

std::vector<Polygon> polygons(const TestMesh& m) {
    std::vector<Polygon> out;
    for (const auto& f : m.faces) {
        if (f.size() < 3) continue;
        Polygon poly;
        for (unsigned v : f) poly.push_back({m.vertices[v][0], m.vertices[v][1], m.vertices[v][2]});
        out.push_back(poly);
    }
    return out;
}

torvel::PolygonMesh object_mesh(const torvel::importer::ImportResult& r, std::size_t k) {
    const torvel::PolygonMesh& m = r.mesh;
    torvel::PolygonMesh out;
    if (k >= m.objects.size()) {
        ADD_FAILURE() << "no object " << k << " among " << m.objects.size();
        return out;
    }
    const std::uint32_t begin = m.objects[k].first_vertex;
    const std::size_t end = k + 1 < m.objects.size() ? m.objects[k + 1].first_vertex : m.vertex_count();
    EXPECT_LE(begin, end);
    EXPECT_LE(end, m.vertex_count());
    out.positions.assign(m.positions.begin() + 3 * std::ptrdiff_t(begin),
                         m.positions.begin() + 3 * std::ptrdiff_t(end));
    const std::uint32_t first = m.objects[k].first, last = m.object_end(k);
    for (std::uint32_t p = first; p < last; ++p) {
        for (std::uint32_t c = m.offsets[p]; c < m.offsets[p + 1]; ++c) {
            const std::uint32_t v = m.indices[c];
            EXPECT_TRUE(v >= begin && v < end) << "object " << k << ", polygon " << p << ": vertex " << v;
            out.indices.push_back(v >= begin && v < end ? v - begin : 0);
        }
        out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
    }
    out.objects.push_back({m.objects[k].name, 0, 0});
    return out;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
ScopedEnv::~ScopedEnv() { ::unsetenv(name_.c_str()); }

}  // namespace imptest
