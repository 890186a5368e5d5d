// Helpers every test program may use: scratch folders, reading a file back, the message of an expected
// exception.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "polygon_mesh.h"

namespace torvel::test {

// A scratch folder for one test: made fresh under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
public:
    // Throws std::runtime_error when no folder can be made. `prefix` starts the folder's name.
    explicit TempDir(std::string_view prefix = "torvel_test");
    // Gives the folder back its owner permissions first, so a test that made it read-only is cleaned up.
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return dir_; }
    // Writes `bytes` to path() / name (replacing a file there) and returns that path; throws
    // std::runtime_error when the file cannot be written.
    std::filesystem::path write(const std::string& name, std::string_view bytes) const;

private:
    std::filesystem::path dir_;
};

// The whole file, bytes as they are. Throws std::runtime_error when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// The what() of the E that f throws, or "" when f returns; other exceptions pass through.
template <class E, class F>
std::string thrown_message(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

// A mesh of just these arrays, as Host::add_mesh and replace_mesh take it.
inline PolygonMesh mesh_of(std::vector<double> positions, std::vector<std::uint32_t> offsets,
                           std::vector<std::uint32_t> indices) {
    PolygonMesh mesh;
    mesh.positions = std::move(positions);
    mesh.offsets = std::move(offsets);
    mesh.indices = std::move(indices);
    return mesh;
}

}  // namespace torvel::test
