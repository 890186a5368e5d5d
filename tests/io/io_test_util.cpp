#include "io_test_util.h"

namespace iotest {

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
