#include "io_test_util.h"

#include "text_util.h"

#include <csignal>
#include <cstring>
#include <sstream>
#include <unistd.h>

using namespace torvel::io;
namespace fs = std::filesystem;
using iotest::expect_error;
using iotest::polygons;
using iotest::read_file;

namespace {

// Eight polygons, an n-gon among them, coordinates that need all 17 digits.
PolygonMesh sample(std::uint32_t big_polygon = 5) {
    PolygonMesh m;
    for (std::uint32_t i = 0; i < big_polygon + 3; ++i) {
        m.positions.push_back(0.1 * i + 1e-17);
        m.positions.push_back(-1.0 / 3.0 * i);
        m.positions.push_back(i == 2 ? -0.0 : 1e300 / (i + 1));
    }
    auto add = [&](std::initializer_list<std::uint32_t> f) {
        m.indices.insert(m.indices.end(), f);
        m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    };
    add({0, 1, 2});
    add({1, 2, 3, 4});
    add({2, 3, 4});
    add({4, 3, 2, 1});
    add({0, 2, 4});
    add({3, 2, 1});
    for (std::uint32_t i = 0; i < big_polygon; ++i) m.indices.push_back(i);
    m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    add({0, 1, 3});
    return m;
}

void expect_same(const PolygonMesh& a, const PolygonMesh& b) {
    ASSERT_EQ(a.positions.size(), b.positions.size());
    EXPECT_EQ(std::memcmp(a.positions.data(), b.positions.data(), a.positions.size() * sizeof(double)), 0);
    EXPECT_EQ(polygons(a), polygons(b));
}

const std::vector<std::uint32_t> marked = {1, 2, 5, 7};

}  // namespace

TEST(Files, ReadMeshErrors) {
    iotest::TempDir dir;
    expect_error([&] { read_mesh(dir.path() / "missing.obj"); }, {"missing.obj", "cannot open"});
    fs::create_directory(dir.path() / "d.obj");
    expect_error([&] { read_mesh(dir.path() / "d.obj"); }, {"d.obj: is a folder"});
    fs::create_directory(dir.path() / "models");
    expect_error([&] { read_mesh(dir.path() / "models"); }, {"models: is a folder"});
    expect_error([&] { read_mesh(dir.write("m.stl", "solid")); }, {"m.stl", "unknown mesh format"});
    for (const char* empty : {"e.obj", "e.ply", "e.off"})
        expect_error([&] { read_mesh(dir.write(empty, "")); }, {empty, "empty"});
    expect_error([&] { read_mesh(dir.write("noext", "v 0 0 0")); }, {"noext", "extension"});
    expect_error([&] { read_mesh(dir.write("t.OBJ", "v 0 0 0\nf 1 1\n")); }, {"t.OBJ:2:", "2 vertices"});
    EXPECT_EQ(format_of("A.PlY"), Format::ply);
    EXPECT_EQ(read_mesh(dir.write("ok.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n")).polygon_count(), 1u);
}

// What editors put at the start of text files: a UTF-8 mark is read past (and a binary PLY's byte offsets
// still count it); a UTF-16 file is named as such instead of failing on its first "statement".
TEST(Files, ByteOrderMarks) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const std::string off = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    const std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
        "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    EXPECT_EQ(polygons(parse_obj(bom + obj, "m.obj")), polygons(parse_obj(obj, "m.obj")));
    EXPECT_EQ(polygons(parse_off(bom + off, "m.off")), polygons(parse_off(off, "m.off")));
    EXPECT_EQ(polygons(parse_ply(bom + ply, "m.ply")), polygons(parse_ply(ply, "m.ply")));
    expect_error([&] { parse_obj(bom + "v 1 2\n", "m.obj"); }, {"m.obj:1:", "x y z"});  // still line 1

    const std::string binary =
        "ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty float x\n"
        "property float y\nproperty float z\nend_header\n";
    expect_error([&] { parse_ply(bom + binary + "12345", "b.ply"); },
                 {"b.ply: truncated binary data at byte " + std::to_string(bom.size() + binary.size())});

    for (const std::string mark : {"\xFF\xFE", "\xFE\xFF"}) {
        expect_error([&] { parse_obj(mark + "v 0 0 0\n", "w.obj"); },
                     {"w.obj: the file is UTF-16", "save it as UTF-8"});
        expect_error([&] { parse_off(mark + "OFF\n", "w.off"); }, {"w.off: the file is UTF-16"});
        expect_error([&] { parse_ply(mark + "ply\n", "w.ply"); }, {"w.ply: the file is UTF-16"});
    }
}

// Another program cuts the file short after it is mapped: an error naming the file, not a crash
// (SIGBUS), and later faults outside a mapped file are left to whatever handled them before.
TEST(Files, AFileCutShortWhileReadIsAnErrorNotACrash) {
    struct sigaction before {};
    sigaction(SIGBUS, nullptr, &before);
    iotest::TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "v " + std::to_string(i) + " 0 0\n";
    text += "f 1 2 3\n";
    for (const auto& [file, cut] : {std::pair{"whole.obj", std::uintmax_t{0}}, {"half.obj", text.size() / 2}}) {
        const fs::path path = dir.write(file, text);
        static std::uintmax_t s_cut;
        s_cut = cut;
        expect_error([&] { detail::read_mapped(path, [](const fs::path& p) { fs::resize_file(p, s_cut); }); },
                     {file, "cut short"});
    }
    EXPECT_EQ(read_mesh(dir.write("intact.obj", text)).polygon_count(), 1u);
    struct sigaction now {};
    sigaction(SIGBUS, nullptr, &now);
    EXPECT_EQ(now.sa_sigaction, before.sa_sigaction);
}

TEST(Files, ObjRoundTripWithGroupsAndMaterials) {
    iotest::TempDir dir;
    const PolygonMesh m = sample();
    const fs::path out = dir.path() / "out.obj";
    write_marked(out, m, marked, {});
    expect_same(read_mesh(out), m);

    // Groups switch only where the marking changes: planar, non-planar x2, planar x2, non, planar, non.
    const std::string text = read_file(out);
    std::vector<std::string> groups;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("g ", 0) == 0 || line.rfind("usemtl ", 0) == 0) groups.push_back(line);
    const std::vector<std::string> want = {"g planar", "usemtl planar", "g non_planar", "usemtl non_planar",
                                           "g planar", "usemtl planar", "g non_planar", "usemtl non_planar",
                                           "g planar", "usemtl planar", "g non_planar", "usemtl non_planar"};
    EXPECT_EQ(groups, want);
    EXPECT_NE(text.find("mtllib out.mtl\n"), std::string::npos);
    const std::string mtl = read_file(dir.path() / "out.mtl");
    EXPECT_NE(mtl.find("newmtl non_planar\nKa 0 0 0\nKd 1 0 0"), std::string::npos);
    EXPECT_NE(mtl.find("newmtl planar"), std::string::npos);
    // Only the two files remain: no temporaries.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(Files, PlyAndOffRoundTripWithFaceColours) {
    iotest::TempDir dir;
    for (std::uint32_t big : {5u, 300u}) {  // uchar list counts, then uint for a 300-gon
        const PolygonMesh m = sample(big);
        const fs::path ply = dir.path() / "out.ply";
        write_marked(ply, m, marked, {});
        expect_same(read_mesh(ply), m);
        const std::string bytes = read_file(ply);
        EXPECT_NE(bytes.find(big < 256 ? "property list uchar uint vertex_indices"
                                       : "property list uint uint vertex_indices"),
                  std::string::npos);
        // The colour of face 0 (planar) and of the last face (marked) sit right after their index lists.
        const std::size_t body = bytes.find("end_header\n") + 11 + m.positions.size() * 8;
        const std::size_t count = big < 256 ? 1 : 4;
        EXPECT_EQ(bytes.substr(body + count + 12, 3), std::string(3, '\xc8'));
        EXPECT_EQ(bytes.substr(bytes.size() - 3), std::string("\xff\0\0", 3));

        const fs::path off = dir.path() / "out.off";
        write_marked(off, m, marked, {});
        expect_same(read_mesh(off), m);
        EXPECT_NE(read_file(off).find("\n3 0 1 3 255 0 0\n"), std::string::npos);
    }
}

TEST(Files, RefusesToOverwriteInputs) {
    iotest::TempDir dir;
    const PolygonMesh m = sample();
    const fs::path in = dir.write("in.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    torvel::RunFiles inputs;
    inputs.add_input(in, torvel::role::input);
    fs::create_symlink(in, dir.path() / "link.obj");
    fs::create_hard_link(in, dir.path() / "hard.obj");
    fs::create_directory(dir.path() / "sub");
    for (const fs::path& out :
         {in, dir.path() / "link.obj", dir.path() / "hard.obj", dir.path() / "sub" / ".." / "in.obj"})
        expect_error([&] { write_marked(out, m, marked, inputs); }, {out.string(), "refusing", "in.obj"});
    // The .mtl that would be written beside the output is protected too.
    const fs::path mtl_in = dir.write("other.mtl", "newmtl x\n");
    torvel::RunFiles with_mtl = inputs;
    with_mtl.add_input(mtl_in, torvel::role::input);
    expect_error([&] { write_marked(dir.path() / "other.obj", m, marked, with_mtl); },
                 {"other.obj (material file other.mtl)", "refusing", "other.mtl"});
    EXPECT_EQ(read_file(in), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(read_file(mtl_in), "newmtl x\n");
    EXPECT_FALSE(fs::exists(dir.path() / "other.obj"));
}

TEST(Files, FailedWritesLeaveNothingBehind) {
    iotest::TempDir dir;
    const PolygonMesh m = sample();
    const fs::path nowhere = dir.path() / "no" / "such" / "out.ply";
    expect_error([&] { write_marked(nowhere, m, marked, {}); }, {nowhere.string(), "cannot create"});
    const fs::path file = dir.write("plain", "x");
    expect_error([&] { write_marked(file / "out.obj", m, marked, {}); },
                 {(file / "out.obj").string(), "cannot create"});
    if (::geteuid() != 0) {  // root ignores directory permissions
        fs::create_directory(dir.path() / "ro");
        fs::permissions(dir.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        expect_error([&] { write_marked(dir.path() / "ro" / "out.off", m, marked, {}); }, {"out.off", "cannot create"});
        EXPECT_TRUE(fs::is_empty(dir.path() / "ro"));
    }
    // Marks and meshes that do not make sense are refused before anything is written.
    const std::vector<std::uint32_t> unsorted = {2, 1}, outside = {99};
    expect_error([&] { write_marked(dir.path() / "a.ply", m, unsorted, {}); }, {"a.ply", "ascending"});
    expect_error([&] { write_marked(dir.path() / "a.ply", m, outside, {}); }, {"a.ply", "99"});
    PolygonMesh broken = m;
    broken.indices[0] = 1000;
    expect_error([&] { write_marked(dir.path() / "a.obj", broken, marked, {}); }, {"a.obj", "1000"});
    expect_error([&] { write_marked(dir.path() / "a.stl", m, marked, {}); }, {"a.stl", "unknown"});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);  // just "plain"
}

TEST(Files, ExamplesReadAndAgree) {
    const fs::path ex = TORVEL_EXAMPLES_DIR;
    const PolygonMesh ply = read_mesh(ex / "mixed.ply"), obj = read_mesh(ex / "mixed.obj");
    expect_same(obj, ply);
    EXPECT_EQ(ply.polygon_count(), 10u);
    EXPECT_EQ(read_mesh(ex / "flat_quads.obj").polygon_count(), 7u);
    EXPECT_EQ(read_mesh(ex / "twisted_quad.obj").indices.size(), 4u);
    EXPECT_EQ(read_mesh(ex / "l_hexagon.off").indices.size(), 6u);
}

TEST(Files, ObjectsAreKeptInEveryFormat) {
    iotest::TempDir dir;
    PolygonMesh m = sample();
    m.objects = {{"Hull", 0}, {"wing #2\nleft", 2}, {"", 6}};
    const fs::path obj = dir.path() / "objects.obj";
    write_marked(obj, m, marked, {});
    const PolygonMesh back = read_mesh(obj);
    expect_same(back, m);
    ASSERT_EQ(back.objects.size(), 3u);  // a name that would break its line is made safe; an empty one named
    EXPECT_EQ(back.objects[1].name, "wing _2_left");
    EXPECT_EQ(back.objects[1].first, 2u);
    EXPECT_EQ(back.objects[2].name, "object");
    // Each object names its group again, so a face's group never comes from another object.
    const std::string text = read_file(obj);
    EXPECT_NE(text.find("o wing _2_left\ng non_planar\nusemtl non_planar\nf 3 4 5\n"), std::string::npos) << text;

    const fs::path ply = dir.path() / "objects.ply", off = dir.path() / "objects.off";
    write_marked(ply, m, marked, {});
    write_marked(off, m, marked, {});
    expect_same(read_mesh(ply), m);
    expect_same(read_mesh(off), m);
    EXPECT_NE(read_file(ply).find("comment object 0 Hull\ncomment object 2 wing _2_left\ncomment object 6 object\n"),
              std::string::npos);
    EXPECT_NE(read_file(off).find("# object 2 wing _2_left\n"), std::string::npos);

    // Objects that do not start at 0 or go backwards are the caller's mistake, told before anything is written.
    m.objects = {{"a", 0}, {"b", 4}, {"c", 4}};
    expect_error([&] { write_marked(dir.path() / "bad.obj", m, marked, {}); }, {"bad.obj", "object 2"});
    EXPECT_FALSE(fs::exists(dir.path() / "bad.obj"));
}
