// libtorvel through its public header only: the same answers as the torvel program, on files and on
// meshes in memory, and the errors' codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <torvel/torvel.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const fs::path kTorvel = TORVEL_EXE;
const fs::path kPlugin = TORVEL_PLUGIN_PATH;
const fs::path kExamples = TORVEL_EXAMPLES;

// What `torvel ARGS` prints on stdout.
std::string program_output(const std::string& args) {
    const std::string command = kTorvel.string() + " --plugin " + kPlugin.string() + " " + args + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

torvel::Session& session() {
    static torvel::Session s(torvel::Session::Options{kPlugin, {}});
    return s;
}

// A quad strip along x whose k-th quad has its last corner lifted by lift[k], and a triangle.
torvel::PolygonMesh strip(const std::vector<double>& lift) {
    torvel::PolygonMesh m;
    for (std::size_t k = 0; k < lift.size(); ++k) {
        const double x = static_cast<double>(k);
        const std::vector<double> quad = {x, 0, 0, x + 1, 0, 0, x + 1, 1, 0, x, 1, lift[k]};
        const auto base = static_cast<std::uint32_t>(m.vertex_count());
        m.positions.insert(m.positions.end(), quad.begin(), quad.end());
        for (std::uint32_t c = 0; c < 4; ++c) m.indices.push_back(base + c);
        m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    }
    const auto base = static_cast<std::uint32_t>(m.vertex_count());
    m.positions.insert(m.positions.end(), {0, 5, 0, 1, 5, 0, 0, 6, 1});
    m.indices.insert(m.indices.end(), {base, base + 1, base + 2});
    m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    return m;
}

std::string obj_text(const torvel::PolygonMesh& m) {
    std::string out;
    char buf[96];
    for (std::size_t v = 0; v < m.vertex_count(); ++v) {
        std::snprintf(buf, sizeof buf, "v %.17g %.17g %.17g\n", m.positions[3 * v], m.positions[3 * v + 1],
                      m.positions[3 * v + 2]);
        out += buf;
    }
    for (std::size_t p = 0; p + 1 < m.offsets.size(); ++p) {
        out += "f";
        for (std::uint32_t c = m.offsets[p]; c < m.offsets[p + 1]; ++c) out += " " + std::to_string(m.indices[c] + 1);
        out += "\n";
    }
    return out;
}

TEST(Library, FilesGiveTheProgramsJsonEntryAtEveryTolerance) {
    for (const char* name : {"mixed.obj", "mixed.ply", "l_hexagon.off", "twisted_quad.obj", "flat_quads.obj"}) {
        for (const double t : {0.0, 1.0, 20.0, 45.0, 90.0}) {
            const fs::path path = kExamples / name;
            const Json program = Json::parse(program_output("check --format json -t " + std::to_string(t) + " " +
                                                            path.string()));
            torvel::CheckOptions options;
            options.tolerance = t;
            const torvel::FileReport report = session().check_file(path, options);
            EXPECT_EQ(Json::parse(torvel::check_json(report)), program["files"][0]) << name << " at " << t;
        }
    }
}

TEST(Library, DetailsAndHistogramAreTheProgramsToo) {
    const fs::path path = kExamples / "mixed.obj";
    const Json program = Json::parse(program_output("check --format json --details --histogram " + path.string()));
    torvel::CheckOptions options;
    options.details = true;
    options.histogram = true;
    EXPECT_EQ(Json::parse(torvel::check_json(session().check_file(path, options))), program["files"][0]);
}

TEST(Library, AMeshInMemoryGetsTheVerdictOfTheSameMeshInAFile) {
    const torvel::PolygonMesh mesh = strip({0, 0.01, 0.5, 1, 0, 2, 1e-9});
    torvel::test::TempDir dir;
    const fs::path file = dir.write("strip.obj", obj_text(mesh));
    for (const double t : {0.5, 5.0, 45.0}) {
        torvel::CheckOptions options;
        options.tolerance = t;
        const torvel::FileReport from_file = session().check_file(file, options);
        const torvel::FileReport in_memory = session().check_mesh(mesh.view(), {}, options);
        EXPECT_EQ(in_memory.non_planar, from_file.non_planar) << t;
        EXPECT_EQ(in_memory.polygons, from_file.polygons);
        EXPECT_EQ(in_memory.tolerance, t);
    }
    // Objects are ranges of polygons; each reports its own indices.
    const std::vector<torvel::PolygonMesh::Object> objects = {{"a", 0}, {"b", 3}};
    const torvel::FileReport split = session().check_mesh(mesh.view(), objects, {});
    ASSERT_EQ(split.objects.size(), 2u);
    EXPECT_EQ(split.objects[0].name, "a");
    EXPECT_EQ(split.objects[0].polygons, 3u);
    EXPECT_EQ(split.objects[1].polygons, 5u);
    std::vector<std::uint32_t> joined = split.objects[0].non_planar;
    for (const std::uint32_t i : split.objects[1].non_planar) joined.push_back(3 + i);
    EXPECT_EQ(joined, split.non_planar);
}

TEST(Library, BadArraysAndBadFilesAreErrorsWithCodes) {
    torvel::PolygonMesh mesh = strip({1});
    mesh.indices[2] = 99;
    try {
        session().check_mesh(mesh.view(), {}, {});
        ADD_FAILURE() << "an index past the vertices was taken";
    } catch (const torvel::Error& e) {
        EXPECT_EQ(e.code(), "TV-E-MESH");
        EXPECT_NE(std::string(e.what()).find("99"), std::string::npos) << e.what();
    }
    torvel::test::TempDir dir;
    const fs::path bad = dir.write("bad.obj", "v 0 0 0\nv 1 0 0\nv x 1 0\n");
    try {
        session().check_file(bad);
        ADD_FAILURE() << "a malformed file was read";
    } catch (const torvel::Error& e) {
        EXPECT_EQ(e.code(), "TV-E-PARSE");
        EXPECT_EQ(e.line(), 3u);
        EXPECT_EQ(std::string(e.what()), bad.string() + ":3: bad x coordinate 'x'");
    }
    try {
        session().check_file(dir.path() / "missing.obj");
        ADD_FAILURE() << "a missing file was read";
    } catch (const torvel::Error& e) {
        EXPECT_EQ(e.code(), "TV-E-OPEN");
    }
}

TEST(Library, FixingAMeshInMemoryLeavesNothingTheFilterReports) {
    const torvel::PolygonMesh mesh = strip({0.3, 0, 1});
    torvel::FixOptions options;
    options.tolerance = 5;
    const torvel::FixedMesh fixed = session().fix_mesh(mesh.view(), options);
    EXPECT_TRUE(fixed.not_repaired.empty());
    EXPECT_EQ(fixed.mesh.positions, mesh.positions);  // no vertex moves
    ASSERT_EQ(fixed.source_face.size(), fixed.mesh.polygon_count());
    EXPECT_EQ(fixed.mesh.polygon_count(), mesh.polygon_count() + 2);  // two quads become two triangles each
    torvel::CheckOptions check;
    check.tolerance = 5;
    EXPECT_TRUE(session().check_mesh(fixed.mesh.view(), {}, check).non_planar.empty());

    // The same as torvel fix of the same mesh in a file.
    torvel::test::TempDir dir;
    const fs::path file = dir.write("strip.obj", obj_text(mesh));
    const Json program = Json::parse(program_output("fix --format json --dry-run -t 5 " + file.string()));
    const torvel::FixReport report = session().fix_file(file, options);
    EXPECT_EQ(Json::parse(torvel::fix_json(report))["files"][0], program["files"][0]);
    ASSERT_EQ(report.splits.size(), fixed.splits.size());
    for (std::size_t k = 0; k < report.splits.size(); ++k) EXPECT_EQ(report.splits[k].corners, fixed.splits[k].corners);
}

TEST(Library, DescribeMeasuresEveryPolygon) {
    const std::vector<torvel::geometry::PolygonShape> shapes = torvel::describe(strip({0, 1}).view());
    ASSERT_EQ(shapes.size(), 3u);
    EXPECT_EQ(shapes[0].bend, 0.0);
    EXPECT_GT(*shapes[1].bend, 45.0);
    EXPECT_EQ(shapes[2].corners, 3u);
}

}  // namespace
