#include "test_support.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace torvel::test {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
    // mkdtemp, not a random name: two test programs run side by side never share a folder.
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder from " + pattern);
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
}

fs::path TempDir::write(const std::string& name, std::string_view bytes) const {
    const fs::path p = dir_ / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + p.string());
    return p;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace torvel::test
