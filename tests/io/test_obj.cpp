#include "io_test_util.h"

#include <charconv>
#include <cstring>

using namespace torvel::io;
using iotest::expect_error;
using iotest::polygons;
using P = std::vector<std::vector<std::uint32_t>>;

namespace {
const std::string four = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
}

TEST(Obj, FaceFormsGroupsAndNgonsKeepFileOrder) {
    const std::string text = "# header\nmtllib a.mtl\n" + four +
                             "v 0 2 0 1.0\nv 2 2 0 1 0.5 0.5\n"  // w and colour values ignored
                             "vt 0 0\nvn 0 0 1\no first\ng one\nusemtl m\ns off\n"
                             "f 1 2 3\n"
                             "f 1/1 2/1 3/1 4/1\n"
                             "g two\nf 1//1 2//1 3//1\n"
                             "o second\nf 1/1/1 2/1/1 3/1/1 4/1/1 5/1/1 6/1/1\n"
                             "l 1 2\np 3\n";
    PolygonMesh m = parse_obj(text, "t.obj");
    ASSERT_EQ(m.vertex_count(), 6u);
    EXPECT_EQ(polygons(m), (P{{0, 1, 2}, {0, 1, 2, 3}, {0, 1, 2}, {0, 1, 2, 3, 4, 5}}));
    EXPECT_EQ(m.positions[3 * 5], 2.0);
    EXPECT_EQ(m.face_lines, (std::vector<std::uint32_t>{15, 16, 18, 20}));
}

TEST(Obj, NegativeIndicesContinuationsForwardRefsAndCrlf) {
    // Negative indices count back from the vertices read so far; positive ones may point ahead.
    PolygonMesh m = parse_obj(four + "f -4 -3 -2 -1\nf 1 2 \\\n  5\r\nv 0 0 1\r\nf -1 -2 \\\r\n -3\n", "t.obj");
    EXPECT_EQ(polygons(m), (P{{0, 1, 2, 3}, {0, 1, 4}, {4, 3, 2}}));
    EXPECT_EQ(m.positions[14], 1.0);
    EXPECT_EQ(m.face_lines, (std::vector<std::uint32_t>{5, 6, 9}));  // a statement's first line
    // Continuation inside a vertex line.
    PolygonMesh v = parse_obj("v 1 \\\n 2 3\n", "t.obj");
    EXPECT_EQ(v.positions, (std::vector<double>{1, 2, 3}));
}

TEST(Obj, CoordinatesAreCorrectlyRoundedDoubles) {
    // 0.1f widened is 0.100000001490116...; the double must be the one nearest the decimal text.
    const char* numbers[] = {"0.1",
                             "0.3000000000000000444",
                             "1.2345678901234567890123",
                             "9007199254740993",
                             "-2.2250738585072011e-308",
                             "+3.5",
                             "1e-400"};
    std::string text;
    for (const char* n : numbers) text += std::string("v ") + n + " 0 0\n";
    PolygonMesh m = parse_obj(text, "t.obj");
    for (std::size_t i = 0; i < std::size(numbers); ++i) {
        const char* n = numbers[i][0] == '+' ? numbers[i] + 1 : numbers[i];
        double want = 0;
        std::from_chars(n, n + std::strlen(n), want);
        if (std::string(n) == "1e-400") want = 0.0;
        EXPECT_EQ(std::memcmp(&want, &m.positions[3 * i], sizeof want), 0) << n;
    }
    EXPECT_NE(m.positions[0], static_cast<double>(0.1f));
}

TEST(Obj, BadInputNamesFileAndLine) {
    const std::string f = "dir/bad.obj";
    auto bad = [&](const std::string& text, std::initializer_list<std::string> parts) {
        expect_error([&] { parse_obj(text, f); }, parts);
    };
    bad(four + "f 1 2 0\n", {"dir/bad.obj:5:", "index 0"});
    bad(four + "f 1 2 9\nv 0 0 0\n", {"bad.obj:5:", "9 out of range", "5 vertices"});
    bad(four + "f 1 -5 2\n", {"bad.obj:5:", "-5 out of range"});
    bad(four + "f 1 2\n", {":5:", "2 vertices"});
    bad(four + "f 1 2 3x\n", {":5:", "3x"});
    bad(four + "f 1/a 2 3\n", {":5:", "texture"});
    bad(four + "f 1 2 99999999999999999999\n", {":5:"});
    bad("v 1 2\n", {":1:", "x y z"});
    bad("\n\nv 1 nan 2\n", {":3:", "not finite"});
    bad("v 1 2 inf\n", {":1:", "not finite"});
    bad("v 1 2 1e999\n", {":1:", "range"});
    bad("v 1 2 3 4 5 6 7 8\n", {":1:", "too many"});
    bad("v 1 2 3 junk\n", {":1:", "junk"});
    bad("v 1.0.0 2 3\n", {":1:", "1.0.0"});
    bad("vx 1 2 3\n", {":1:", "unknown statement", "vx"});
    bad("v 1 \\\n 2 3\nbogus\n", {":3:", "bogus"});  // continuation counts the joined line
    bad("ply\nformat ascii 1.0\n", {":1:", "ply"});
    // Bytes that are not UTF-8 neither break nor vanish from the message.
    expect_error([] { parse_obj("v \xff\xfe 0 0\n", "b\xe9.obj"); }, {"b\\xe9.obj:1:", "\\xff\\xfe"});
}

TEST(Obj, HugePolygonAndEmptyFile) {
    const std::size_t n = 1'000'000;
    std::string text;
    text.reserve(n * 30);
    char buf[32];
    for (std::size_t i = 0; i < n; ++i) {
        auto r = std::to_chars(buf, buf + 32, static_cast<double>(i) * 1e-3);
        text += "v ";
        text.append(buf, r.ptr);
        text += " 1 0\n";
    }
    text += "f";
    for (std::size_t i = 1; i <= n; ++i) {
        auto r = std::to_chars(buf, buf + 32, i);
        text += ' ';
        text.append(buf, r.ptr);
    }
    text += '\n';
    PolygonMesh m = parse_obj(text, "big.obj");
    ASSERT_EQ(m.polygon_count(), 1u);
    ASSERT_EQ(m.indices.size(), n);
    EXPECT_EQ(m.indices.back(), n - 1);
    EXPECT_EQ(parse_obj("", "e.obj").polygon_count(), 0u);
}

TEST(Obj, ObjectStatementsStartObjects) {
    using O = std::vector<std::pair<std::string, std::uint32_t>>;
    auto objects = [](const PolygonMesh& m) {
        O out;
        for (const PolygonMesh::Object& o : m.objects) out.emplace_back(o.name, o.first);
        return out;
    };
    // Faces before the first `o` are an object of their own; an `o` with no face after it only names.
    PolygonMesh m =
        parse_obj(four + "f 1 2 3\no  Left wing \r\nf 1 2 3 4\nf 2 3 4\no empty\no Tail # rudder\nf 4 3 2\n", "t.obj");
    EXPECT_EQ(objects(m), (O{{"", 0}, {"Left wing", 1}, {"Tail", 3}}));
    EXPECT_EQ(m.polygon_count(), 4u);
    // A trailing `o` without faces is dropped; a lone one stays, naming the whole mesh.
    EXPECT_EQ(objects(parse_obj(four + "o a\nf 1 2 3\no b\n", "t.obj")), (O{{"a", 0}}));
    EXPECT_EQ(objects(parse_obj(four + "o\nf 1 2 3\n", "t.obj")), (O{{"", 0}}));
    EXPECT_TRUE(parse_obj(four + "f 1 2 3\n", "t.obj").objects.empty());
}
