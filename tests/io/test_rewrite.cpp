// The lossless rewriter: split faces replaced in place, every other byte of the file kept.
#include "io_test_util.h"
#include "mesh_rewrite.h"

using namespace torvel::io;
using iotest::expect_error;
using iotest::polygons;
using P = std::vector<std::vector<std::uint32_t>>;

namespace {

PolygonPieces pieces(std::uint32_t polygon, const P& list) {
    PolygonPieces p{polygon, {0}, {}};
    for (const auto& piece : list) {
        p.corners.insert(p.corners.end(), piece.begin(), piece.end());
        p.offsets.push_back(static_cast<std::uint32_t>(p.corners.size()));
    }
    return p;
}

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

const std::string kObj =
    "\xEF\xBB\xBF# a model\nmtllib m.mtl\no thing\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 0.5 1\n"
    "vt 0 0\nvt 1 0\nvn 0 0 1\ng side\nusemtl red\ns 1\n"
    "  f 1/1/1 2/2/1 3/1/1 4/2/1 # quad\n"
    "f -5//1 -4//1 \\\n  -3//1 -2//1 -1//1\n"
    "s off\nf 1 2 5\n";
const std::string kObjSplit =
    "\xEF\xBB\xBF# a model\nmtllib m.mtl\no thing\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 0.5 1\n"
    "vt 0 0\nvt 1 0\nvn 0 0 1\ng side\nusemtl red\ns 1\n"
    "  f 1/1/1 2/2/1 3/1/1 # quad\n  f 1/1/1 3/1/1 4/2/1\n"
    "f -5//1 -4//1 -3//1\nf -5//1 -3//1 -2//1 -1//1\n"
    "s off\nf 1 2 5\n";

}  // namespace

TEST(Rewrite, ObjKeepsEveryOtherLineAndTheCornerTokensAsWritten) {
    const std::vector<PolygonPieces> splits = {pieces(0, {{0, 1, 2}, {0, 2, 3}}), pieces(1, {{0, 1, 2}, {0, 2, 3, 4}})};
    for (bool windows : {false, true}) {
        const std::string in = windows ? crlf(kObj) : kObj;
        const std::string out = split_polygons_in_file(in, Format::obj, "m.obj", splits);
        EXPECT_EQ(out, windows ? crlf(kObjSplit) : kObjSplit);
        // Relative indices still name the same vertices: they count back from the same v lines.
        EXPECT_EQ(polygons(parse_obj(out, "out.obj")), (P{{0, 1, 2}, {0, 2, 3}, {0, 1, 2}, {0, 2, 3, 4}, {0, 1, 4}}));
    }
    // No split: the bytes as they were.
    EXPECT_EQ(split_polygons_in_file(kObj, Format::obj, "m.obj", {}), kObj);
}

TEST(Rewrite, PlyAsciiPiecesCarryTheFaceOtherPropertiesAndTheCountIsUpdated) {
    const std::string head =
        "ply\nformat ascii 1.0\ncomment kept\nelement vertex 4\nproperty float x\nproperty float y\n"
        "property float z\nelement face ";
    const std::string props =
        "\nproperty uchar red\nproperty list uchar int vertex_indices\nproperty float quality\n"
        "element note 1\nproperty int id\nend_header\n0 0 0\n1 0 0\n1 1 0.5\n0 1 0\n";
    const std::string in = head + "2" + props + "7  4 0 1 2 3   0.5\n5 3 0 1 2 1\n42\n";
    const std::string out =
        split_polygons_in_file(in, Format::ply, "m.ply", std::vector{pieces(0, {{0, 1, 2}, {0, 2, 3}})});
    EXPECT_EQ(out, head + "3" + props + "7  3 0 1 2   0.5\n7  3 0 2 3   0.5\n5 3 0 1 2 1\n42\n");
}

namespace {

// A binary PLY of the unit square's corners, faces (red, indices, quality) and one trailing element.
std::string binary_ply(bool big, const std::vector<std::pair<std::uint8_t, std::vector<std::int32_t>>>& faces) {
    iotest::Bytes b;
    b.big = big;
    b.s = std::string("ply\nformat ") + (big ? "binary_big_endian" : "binary_little_endian") +
          " 1.0\nelement vertex 4\nproperty double x\nproperty double y\nproperty double z\nelement face " +
          std::to_string(faces.size()) +
          "\nproperty uchar red\nproperty list ushort int vertex_indices\nproperty float quality\n"
          "element note 1\nproperty int id\nend_header\n";
    const double xyz[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0.5}, {0, 1, 0}};
    for (const auto& v : xyz) b.put(v[0]).put(v[1]).put(v[2]);
    for (const auto& [red, idx] : faces) {
        b.put(red).put(static_cast<std::uint16_t>(idx.size()));
        for (std::int32_t i : idx) b.put(i);
        b.put(0.25f * static_cast<float>(red));
    }
    b.put(std::int32_t{42});
    return b.s;
}

}  // namespace

TEST(Rewrite, PlyBinaryInBothByteOrdersCopiesEachFaceRecordPerPiece) {
    for (bool big : {false, true}) {
        const std::string in = binary_ply(big, {{9, {0, 1, 2, 3}}, {5, {0, 1, 2}}});
        const std::string out =
            split_polygons_in_file(in, Format::ply, "m.ply", std::vector{pieces(0, {{1, 2, 3}, {0, 1, 3}})});
        EXPECT_EQ(out, binary_ply(big, {{9, {1, 2, 3}}, {9, {0, 1, 3}}, {5, {0, 1, 2}}})) << (big ? "big" : "little");
    }
}

TEST(Rewrite, OffKeepsCommentsColoursAndLineEndsAndUpdatesTheFaceCount) {
    const std::string in =
        "OFF\n# comment\n5 2 0  # counts\n0 0 0\n1 0 0\n1 1 0.5\n0 1 0\n0.5 0.5 1\n"
        "  4 0 1 2 3 255 0 0 # red\r\n3 0 1 4\n";
    const std::string out =
        split_polygons_in_file(in, Format::off, "m.off", std::vector{pieces(0, {{0, 1, 2}, {0, 2, 3}})});
    EXPECT_EQ(out,
              "OFF\n# comment\n5 3 0  # counts\n0 0 0\n1 0 0\n1 1 0.5\n0 1 0\n0.5 0.5 1\n"
              "  3 0 1 2 255 0 0 # red\r\n3 0 2 3 255 0 0 # red\r\n3 0 1 4\n");
}

TEST(Rewrite, SplitsThatDoNotFitTheFileAreRefusedNamingIt) {
    auto bad = [](const std::vector<PolygonPieces>& splits, const std::string& what) {
        expect_error([&] { split_polygons_in_file(kObj, Format::obj, "m.obj", splits); }, {"m.obj", what});
    };
    bad({pieces(7, {{0, 1, 2}})}, "polygon 7: the file has 3");
    bad({pieces(0, {{0, 1, 9}})}, "no corner 9 (it has 4)");
    bad({pieces(0, {{0, 1}})}, "fewer than 3 corners");
    bad({pieces(1, {{0, 1, 2}}), pieces(0, {{0, 1, 2}})}, "ascending");
    PolygonMesh other = parse_obj(kObj, "m.obj");
    other.indices[0] = 3;
    expect_error([&] { split_polygons_in_file(kObj, Format::obj, "m.obj", {}, &other); }, {"m.obj", "changed"});
    expect_error([&] { split_polygons_in_file("v 0 0\n", Format::obj, "bad.obj", {}); }, {"bad.obj:1:"});
}

TEST(Rewrite, AFileReadWholeIsRewrittenInPartsAsInOneWithoutParsingAgain) {
    // Large enough for many parts: 200 000 quads, every seventh split; and a small OFF file.
    std::string big = "# grid\n";
    for (int k = 0; k < 200000; ++k) big += "v " + std::to_string(k) + " 0 0\nv " + std::to_string(k) + " 1 0.5\n";
    for (int k = 0; k + 1 < 200000; ++k)
        big += "f " + std::to_string(2 * k + 1) + " " + std::to_string(2 * k + 3) + " " + std::to_string(2 * k + 4) +
               " " + std::to_string(2 * k + 2) + "\n";
    std::vector<PolygonPieces> every_seventh;
    for (std::uint32_t p = 0; p + 1 < 200000; p += 7) every_seventh.push_back(pieces(p, {{0, 1, 2}, {0, 2, 3}}));
    const std::string off = "OFF\n5 2 0\n0 0 0\n1 0 0\n1 1 0.5\n0 1 0\n0.5 0.5 1\n4 0 1 2 3 255 0 0\n3 0 1 4\n";
    const iotest::TempDir dir;
    for (const auto& [name, bytes, format, splits] :
         {std::tuple{"big.obj", big, Format::obj, every_seventh},
          {"small.off", off, Format::off, std::vector{pieces(0, {{0, 1, 2}, {0, 2, 3}})}},
          {"unsplit.obj", kObj, Format::obj, std::vector<PolygonPieces>{}}}) {
        const auto path = dir.write(name, bytes);
        MeshFile file = read_mesh_file(path);
        const PolygonMesh read = read_mesh(path);
        EXPECT_EQ(file.bytes(), bytes) << name;
        EXPECT_EQ(file.mesh.positions, read.positions) << name;
        EXPECT_EQ(file.mesh.offsets, read.offsets) << name;
        EXPECT_EQ(file.mesh.face_lines, read.face_lines) << name;
        // As torvel fix does: the arrays go elsewhere, and the rewrite reads them there.
        const PolygonMesh moved = torvel::test::mesh_of(std::move(file.mesh.positions), std::move(file.mesh.offsets),
                                                        std::move(file.mesh.indices));
        std::string written;
        std::size_t parts = 0, largest = 0;
        write_split_polygons(file, moved.view(), file.mesh.face_lines, format, name, splits,
                             [&](std::string_view part) {
                                 written += part;
                                 ++parts;
                                 largest = std::max(largest, part.size());
                             });
        EXPECT_EQ(written, split_polygons_in_file(bytes, format, name, splits)) << name;
        EXPECT_LE(largest, std::size_t{3} << 20) << name;  // never the whole file at once
        if (bytes.size() > (std::size_t{8} << 20)) {
            EXPECT_GT(parts, 4u) << name;
        }
    }
    expect_error([&] { read_mesh_file(dir.write("empty.obj", "")); }, {"empty.obj", "the file is empty"});
    expect_error([&] { read_mesh_file(dir.path()); }, {"is a folder"});
}
