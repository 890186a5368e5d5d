#include "io_test_util.h"

#include <chrono>

using namespace torvel::io;
using namespace std::string_literals;
using iotest::Bytes;
using iotest::expect_error;
using iotest::polygons;
using P = std::vector<std::vector<std::uint32_t>>;

namespace {

const double coords[5][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0.1}, {0, 1, 0}, {0.5, 2, -3.25}};
const P faces = {{0, 1, 2, 3}, {2, 3, 4}, {4, 3, 2, 1, 0}};

// Header with extra elements and properties around the ones the reader needs.
std::string header(const std::string& format, const std::string& coord, const std::string& count_type,
                   const std::string& index_type) {
    return "ply\r\nformat " + format +
           " 1.0\ncomment made by a test\nobj_info nothing\n"
           "element material 1\nproperty list uchar float weights\n"
           "element vertex 5\nproperty uchar red\nproperty " +
           coord + " x\nproperty " + coord + " y\nproperty short tag\nproperty " + coord +
           " z\nproperty double nx\n"
           "element face 3\nproperty int flags\nproperty list " +
           count_type + " " + index_type +
           " vertex_indices\nproperty list uchar float texcoord\n"
           "element edge 2\nproperty int vertex1\nproperty int vertex2\nend_header\n";
}

std::string ascii_ply() {
    std::string s = header("ascii", "float", "uchar", "int") + "2 0.5 1e300\n";
    for (auto& c : coords)
        s += "7 " + std::to_string(c[0]) + " " + std::to_string(c[1]) + " -3 " + std::to_string(c[2]) + " 0.25\n";
    for (auto& f : faces) {
        s += "-1 " + std::to_string(f.size());
        for (auto i : f) s += " " + std::to_string(i);
        s += " 2 0.5 0.5\n";
    }
    return s + "0 1\n1 2\n";
}

template <class C, class N, class I>
std::string binary_ply(bool big, const std::string& coord, const std::string& nt, const std::string& it) {
    Bytes b{header(big ? "binary_big_endian" : "binary_little_endian", coord, nt, it), big};
    b.put<std::uint8_t>(1).put<float>(0.5f);
    for (auto& c : coords) {
        b.put<std::uint8_t>(7);
        b.put<C>(static_cast<C>(c[0]));
        b.put<C>(static_cast<C>(c[1]));
        b.put<std::int16_t>(-3);
        b.put<C>(static_cast<C>(c[2]));
        b.put<double>(0.25);
    }
    for (auto& f : faces) {
        b.put<std::int32_t>(-1);
        b.put<N>(static_cast<N>(f.size()));
        for (auto i : f) b.put<I>(static_cast<I>(i));
        b.put<std::uint8_t>(2).put<float>(0.5f).put<float>(0.5f);
    }
    b.put<std::int32_t>(0).put<std::int32_t>(1).put<std::int32_t>(1).put<std::int32_t>(2);
    return b.s;
}

void expect_mesh(const PolygonMesh& m, bool single_precision) {
    ASSERT_EQ(m.vertex_count(), 5u);
    for (int v = 0; v < 5; ++v)
        for (int a = 0; a < 3; ++a) {
            const double want = single_precision ? static_cast<double>(static_cast<float>(coords[v][a])) : coords[v][a];
            EXPECT_EQ(m.positions[3 * v + a], want) << v << " " << a;
        }
    EXPECT_EQ(polygons(m), faces);
}

}  // namespace

TEST(Ply, AsciiSkipsOtherPropertiesAndElements) {
    // ascii keeps the decimal text's nearest double even for a property declared float.
    PolygonMesh m = parse_ply(ascii_ply(), "a.ply");
    expect_mesh(m, false);
    EXPECT_EQ(m.positions[8], 0.1);
}

// Free text where a comment belongs, as some exporters write it: the line is passed over and told,
// with its line, in the mesh's warnings; the rest of the header still counts.
TEST(Ply, UnknownHeaderKeywordIsSkippedWithAWarning) {
    EXPECT_TRUE(parse_ply(ascii_ply(), "a.ply").warnings.empty());
    const std::string free_text = "Created by Exporter 2.1\n";
    for (const std::string& text :
         {ascii_ply(), binary_ply<float, std::uint8_t, std::int32_t>(false, "float", "uchar", "int")}) {
        std::string marked = text;
        marked.insert(marked.find("comment"), free_text);
        marked.insert(marked.find("end_header"), "\tgenerator: x\n");
        PolygonMesh m = parse_ply(marked, "dir/a.ply");
        EXPECT_EQ(polygons(m), faces);
        EXPECT_EQ(m.warnings, (std::vector<std::string>{
                                  "dir/a.ply:3: header line with the unknown keyword 'Created' skipped",
                                  "dir/a.ply:22: header line with the unknown keyword 'generator:' skipped"}));
    }
    // Past ten, the rest is counted in one warning at end_header.
    std::string many = ascii_ply();
    for (int i = 0; i < 13; ++i) many.insert(many.find("comment"), "Note " + std::to_string(i) + "\n");
    const PolygonMesh m = parse_ply(many, "a.ply");
    ASSERT_EQ(m.warnings.size(), 11u);
    EXPECT_EQ(m.warnings[9], "a.ply:12: header line with the unknown keyword 'Note' skipped");
    EXPECT_EQ(m.warnings[10], "a.ply:34: 3 more header lines with unknown keywords skipped");
}

TEST(Ply, BinaryBothEndiannessesTypesAndListCounts) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big endian" : "little endian");
        expect_mesh(parse_ply(binary_ply<float, std::uint8_t, std::int32_t>(big, "float", "uchar", "int"), "b.ply"),
                    true);
        expect_mesh(parse_ply(binary_ply<double, std::int32_t, std::uint32_t>(big, "double", "int", "uint"), "b.ply"),
                    false);
        expect_mesh(
            parse_ply(binary_ply<double, std::uint16_t, std::uint16_t>(big, "float64", "ushort", "uint16"), "b.ply"),
            false);
        expect_mesh(parse_ply(binary_ply<float, std::int8_t, std::uint8_t>(big, "float32", "char", "uchar"), "b.ply"),
                    true);
    }
}

TEST(Ply, BadHeadersAndBodies) {
    auto bad = [](const std::string& text, std::initializer_list<std::string> parts) {
        expect_error([&] { parse_ply(text, "m.ply"); }, parts);
    };
    const std::string head =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n";
    const std::string faces_head = "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
    const std::string verts = "0 0 0\n1 0 0\n0 1 0\n";
    bad("", {"m.ply", "empty"});
    bad("plx\n", {"m.ply", "not a PLY"});
    bad("ply\nformat ascii 2.0\n", {"m.ply:2:", "version"});
    bad("ply\nformat text 1.0\n", {"m.ply:2:", "text"});
    bad(head + "element face 1\nproperty list float int vertex_indices\nend_header\n", {"m.ply:8:", "count type"});
    bad(head + "property quad w\n", {"m.ply:7:", "quad"});
    bad(head + "element face 99999999999999999999999\n", {"m.ply:7:", "overflows"});
    bad(head + "element face -1\n", {"m.ply:7:", "count"});
    bad(head, {"end_header"});
    bad("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nend_header\n0 0\n",
        {"m.ply:6:", "no z"});
    bad(head + faces_head + verts + "3 0 1 3\n", {"m.ply:13:", "3 out of range"});
    bad(head + faces_head + verts + "3 0 1 -1\n", {"m.ply:13:", "-1 out of range"});
    bad(head + faces_head + verts + "2 0 1\n", {"m.ply:13:", "2 vertices"});
    bad(head + faces_head + "0 0 0\n1 nan 0\n0 1 0\n", {"m.ply:11:", "not finite"});
    bad(head + faces_head + "0 0 0\n1 1e999 0\n0 1 0\n", {"m.ply:11:", "range"});
    bad(head + faces_head + "0 0 0\n1 x 0\n0 1 0\n", {"m.ply:11:", "'x'"});
    bad(head + faces_head + verts + "3 0 1\n", {"m.ply:14:", "end of file"});
    bad(head + faces_head + verts + "3 0 1 2\n7\n", {"m.ply:14:", "after the last element"});
    bad(head + "element face 1\nproperty list uchar uchar vertex_indices\nend_header\n" + verts + "3 0 1 256\n",
        {"m.ply:13:", "256"});

    // Binary: truncation and trailing bytes are reported with the byte offset.
    const std::string bhead =
        "ply\nformat binary_little_endian 1.0\nelement vertex 2\nproperty double x\n"
        "property double y\nproperty double z\nend_header\n";
    bad(bhead + std::string(40, '\0'), {"m.ply:", "truncated", "byte " + std::to_string(bhead.size() + 24), "1 of 2"});
    bad(bhead + std::string(49, '\0'), {"m.ply:", "1 unexpected bytes"});
    Bytes nan_vertex{bhead};
    nan_vertex.put<double>(0).put<double>(std::numeric_limits<double>::quiet_NaN()).put<double>(0);
    nan_vertex.put<double>(0).put<double>(0).put<double>(0);
    bad(nan_vertex.s, {"m.ply:", "not finite", "byte " + std::to_string(bhead.size() + 8)});
}

TEST(Ply, HostileCountsFailFastWithoutAllocating) {
    // Claims of 10^12 vertices/faces with a handful of bytes must be rejected by looking at the data.
    const auto start = std::chrono::steady_clock::now();
    const std::string v3 = "property float x\nproperty float y\nproperty float z\n";
    expect_error(
        [&] {
            parse_ply("ply\nformat binary_little_endian 1.0\nelement vertex 3\n" + v3 +
                          "element face 1000000000000\nproperty list uint uint vertex_indices\nend_header\n" +
                          std::string(36, '\0') + "\x03\0\0\0\x01\0\0\0"s,
                      "h.ply");
        },
        {"h.ply", "truncated"});
    expect_error(
        [&] {
            parse_ply("ply\nformat binary_big_endian 1.0\nelement vertex 4000000000\n" + v3 + "end_header\n" +
                          std::string(64, '\0'),
                      "h.ply");
        },
        {"h.ply", "truncated"});
    expect_error(
        [&] {
            parse_ply("ply\nformat binary_little_endian 1.0\nelement vertex 1000000000000\n" + v3 + "end_header\n",
                      "h.ply");
        },
        {"h.ply", "too many vertices"});
    expect_error(
        [&] {
            parse_ply("ply\nformat ascii 1.0\nelement vertex 3\n" + v3 +
                          "element face 1000000000000\nproperty list uint uint vertex_indices\nend_header\n"
                          "0 0 0\n0 0 0\n0 0 0\n3 0 1 2\n",
                      "h.ply");
        },
        {"h.ply:14:", "end of file"});
    // A list claiming 4e9 items in a few bytes.
    expect_error(
        [&] {
            parse_ply(
                "ply\nformat binary_little_endian 1.0\nelement vertex 0\n" + v3 +
                    "element face 1\nproperty list uint uint vertex_indices\nend_header\n\xff\xff\xff\xff\x01\x02"s,
                "h.ply");
        },
        {"h.ply", "truncated"});
    // An element without properties costs nothing however many it claims.
    PolygonMesh m = parse_ply(
        "ply\nformat ascii 1.0\nelement nothing 1000000000000000\nelement vertex 0\n" + v3 + "end_header\n", "h.ply");
    EXPECT_EQ(m.vertex_count(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Ply, MillionVertexPolygon) {
    const std::uint32_t n = 1'000'000;
    Bytes b{"ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(n) +
            "\nproperty float x\nproperty float y\nproperty float z\nelement face 1\n"
            "property list uint int vertex_indices\nend_header\n"};
    for (std::uint32_t i = 0; i < n; ++i) b.put<float>(static_cast<float>(i)).put<float>(1.0f).put<float>(0.0f);
    b.put<std::uint32_t>(n);
    for (std::uint32_t i = 0; i < n; ++i) b.put<std::int32_t>(static_cast<std::int32_t>(n - 1 - i));
    PolygonMesh m = parse_ply(b.s, "big.ply");
    ASSERT_EQ(m.polygon_count(), 1u);
    ASSERT_EQ(m.indices.size(), n);
    EXPECT_EQ(m.indices.front(), n - 1);
    EXPECT_EQ(m.indices.back(), 0u);
}
