#include "io_test_util.h"

#include <fstream>
#include <random>

namespace iotest {

TempDir::TempDir() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("torvel_io_test_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& bytes) const {
    auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
}

void expect_error(const std::function<void()>& f, std::initializer_list<std::string> parts) {
    try {
        f();
    } catch (const torvel::io::MeshError& e) {
        const std::string msg = e.what();
        for (const auto& part : parts)
            EXPECT_NE(msg.find(part), std::string::npos) << "'" << part << "' not in: " << msg;
        return;
    }
    ADD_FAILURE() << "no MeshError thrown (expected one mentioning " << *parts.begin() << ")";
}

std::vector<std::vector<std::uint32_t>> polygons(const torvel::io::MeshData& m) {
    std::vector<std::vector<std::uint32_t>> out;
    for (std::size_t i = 0; i + 1 < m.offsets.size(); ++i)
        out.emplace_back(m.indices.begin() + m.offsets[i], m.indices.begin() + m.offsets[i + 1]);
    return out;
}

}  // namespace iotest
