// torvel check -o: the marked mesh read back, and the files torvel must never overwrite.
#include <cstring>

#include "mesh_io.h"
#include "run.h"

namespace apptest {
namespace {

class OutputFiles : public TempDirTest {};

namespace io = torvel::io;

// Face colours of a binary little-endian PLY as write_marked lays it out: x y z doubles per vertex,
// then per face a uchar count, uint32 indices and uchar red, green, blue.
std::vector<std::array<unsigned char, 3>> ply_face_colours(const std::string& bytes, const io::MeshData& mesh) {
    const std::size_t header = bytes.find("end_header\n");
    EXPECT_NE(header, std::string::npos);
    std::size_t at = header + std::strlen("end_header\n") + mesh.vertex_count() * 3 * sizeof(double);
    std::vector<std::array<unsigned char, 3>> colours;
    for (std::size_t f = 0; f < mesh.polygon_count() && at < bytes.size(); ++f) {
        const auto n = static_cast<unsigned char>(bytes[at]);
        at += 1 + n * 4u;
        if (at + 3 > bytes.size()) break;
        colours.push_back({static_cast<unsigned char>(bytes[at]), static_cast<unsigned char>(bytes[at + 1]),
                           static_cast<unsigned char>(bytes[at + 2])});
        at += 3;
    }
    return colours;
}

// For each face of an OBJ written by write_marked, the material it was written under.
std::vector<std::string> obj_face_materials(const std::string& text) {
    std::vector<std::string> materials;
    std::string current;
    for (const std::string& line : lines(text)) {
        if (line.rfind("usemtl ", 0) == 0) current = line.substr(7);
        if (line.rfind("f ", 0) == 0) materials.push_back(current);
    }
    return materials;
}

void expect_same_geometry(const io::MeshData& a, const io::MeshData& b) {
    ASSERT_EQ(a.positions.size(), b.positions.size());
    EXPECT_EQ(std::memcmp(a.positions.data(), b.positions.data(), a.positions.size() * sizeof(double)), 0)
        << "vertices differ in some bit";
    EXPECT_EQ(a.offsets, b.offsets);
    EXPECT_EQ(a.indices, b.indices);
}

TEST_F(OutputFiles, OutputPlyKeepsTheGeometryBitExactAndColoursTheNonPlanarFacesRed) {
    const fs::path in = copy_example("mixed.ply");
    const fs::path out = dir / "marked.ply";
    Result r = run({"check", "-o", out.string(), in.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    const io::MeshData original = io::read_mesh(in), written = io::read_mesh(out);
    expect_same_geometry(original, written);
    const auto colours = ply_face_colours(read_file(out), written);
    ASSERT_EQ(colours.size(), 10u);
    for (std::size_t f = 0; f < colours.size(); ++f) {
        const bool marked = f >= 5 && f <= 7;
        EXPECT_EQ(colours[f][0], marked ? 255 : 200) << "face " << f;
        EXPECT_EQ(colours[f][1], marked ? 0 : 200) << "face " << f;
    }
}

TEST_F(OutputFiles, OutputObjPutsTheNonPlanarFacesUnderTheirOwnMaterial) {
    // Tolerance 70 marks 6 and 7 only, so the marking follows the filter, not a fixed list.
    const fs::path in = copy_example("mixed.obj");
    const fs::path out = dir / "marked.obj";
    Result r = run({"check", "-t", "70", "-o", out.string(), in.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    expect_same_geometry(io::read_mesh(in), io::read_mesh(out));
    const std::vector<std::string> materials = obj_face_materials(read_file(out));
    ASSERT_EQ(materials.size(), 10u);
    for (std::size_t f = 0; f < materials.size(); ++f)
        EXPECT_EQ(materials[f], f == 6 || f == 7 ? "non_planar" : "planar") << "face " << f;
    EXPECT_TRUE(fs::exists(dir / "marked.mtl"));

    // A clean mesh is written too, with nothing marked, and the exit code stays 0.
    const fs::path flat_out = dir / "flat.obj";
    EXPECT_EQ(run({"check", "-o", flat_out.string(), (kExamples / "flat_quads.obj").string()}).code, 0);
    for (const std::string& m : obj_face_materials(read_file(flat_out))) EXPECT_EQ(m, "planar");
}

TEST_F(OutputFiles, OutputNeverReplacesTheInputDirectlyOrThroughALink) {
    const fs::path in = copy_example("mixed.obj", "model.obj");
    const std::string before = read_file(in);
    fs::create_symlink(in, dir / "link.obj");
    for (const fs::path& target : {in, dir / "link.obj", dir / "." / "model.obj"}) {
        Result r = run({"check", "-o", target.string(), in.string()});
        EXPECT_EQ(r.code, 2) << target;
        EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(target.string()), std::string::npos) << r.err;
        // The result itself is still reported.
        EXPECT_NE(r.out.find("3 of 10 polygons"), std::string::npos) << r.out;
    }
    EXPECT_EQ(read_file(in), before);
    EXPECT_TRUE(fs::is_symlink(dir / "link.obj"));
}

TEST_F(OutputFiles, OutputFailuresExitTwoAndLeaveNothingBehind) {
    const fs::path in = copy_example("mixed.obj");
    Result no_dir = run({"check", "-o", (dir / "none" / "x.ply").string(), in.string()});
    EXPECT_EQ(no_dir.code, 2);
    EXPECT_NE(no_dir.err.find((dir / "none" / "x.ply").string()), std::string::npos) << no_dir.err;
    Result bad_ext = run({"check", "-o", (dir / "x.stl").string(), in.string()});
    EXPECT_EQ(bad_ext.code, 2);
    EXPECT_NE(bad_ext.err.find(".stl"), std::string::npos) << bad_ext.err;
    std::vector<fs::path> left;
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path());
    EXPECT_EQ(left, std::vector<fs::path>{in});
}

TEST_F(OutputFiles, LogNeverReplacesAnInputOrTheOutput) {
    const fs::path in = copy_example("mixed.obj");
    const std::string before = read_file(in);
    fs::create_symlink(in, dir / "link.jsonl");
    for (const fs::path& log : {in, dir / "link.jsonl"}) {
        Result r = run({"check", "--log", log.string(), in.string()});
        EXPECT_EQ(r.code, 2) << log;
        EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_file(in), before);
    const fs::path out = dir / "out.obj";
    Result same = run({"check", "--log", out.string(), "-o", out.string(), in.string()});
    EXPECT_EQ(same.code, 2);
    EXPECT_FALSE(fs::exists(out));
    Result is_dir = run({"check", "--log", dir.string(), in.string()});
    EXPECT_EQ(is_dir.code, 2);
    EXPECT_NE(is_dir.err.find(dir.string() + ": is a folder"), std::string::npos) << is_dir.err;
}

}  // namespace
}  // namespace apptest
