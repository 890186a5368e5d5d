// A scratch folder for one test: made fresh under the system's temporary folder, removed with all it
// holds when the object goes. Used by the mesh I/O, program and common helper tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvel::test {

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

}  // namespace torvel::test
