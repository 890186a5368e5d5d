#include "io_test_util.h"

#include "work_threads.h"

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

std::vector<std::vector<std::uint32_t>> polygons(const torvel::PolygonMesh& m) {
    std::vector<std::vector<std::uint32_t>> out;
    for (std::size_t i = 0; i + 1 < m.offsets.size(); ++i)
        out.emplace_back(m.indices.begin() + m.offsets[i], m.indices.begin() + m.offsets[i + 1]);
    return out;
}

torvel::PolygonMesh on_one_thread(const std::function<torvel::PolygonMesh()>& parse) {
    struct OneThread {
        OneThread() { torvel::set_work_threads(1); }
        ~OneThread() { torvel::set_work_threads(0); }
    } one;
    return parse();
}

std::optional<std::string> error_of(const std::function<torvel::PolygonMesh()>& parse) {
    try {
        parse();
    } catch (const torvel::io::MeshError& e) {
        return e.what();
    }
    return std::nullopt;
}

void expect_same_mesh(const torvel::PolygonMesh& a, const torvel::PolygonMesh& b) {
    ASSERT_EQ(a.positions.size(), b.positions.size());
    EXPECT_EQ(0, std::memcmp(a.positions.data(), b.positions.data(), a.positions.size() * sizeof(double)));
    EXPECT_EQ(a.offsets, b.offsets);
    EXPECT_EQ(a.indices, b.indices);
    EXPECT_EQ(a.face_lines, b.face_lines);
    EXPECT_EQ(a.warnings, b.warnings);
    ASSERT_EQ(a.objects.size(), b.objects.size());
    for (std::size_t i = 0; i < a.objects.size(); ++i) {
        EXPECT_EQ(a.objects[i].name, b.objects[i].name);
        EXPECT_EQ(a.objects[i].first, b.objects[i].first);
    }
}

}  // namespace iotest
