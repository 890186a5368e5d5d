// torvel fix through the executable: what it splits, what it leaves with a reason, that the output differs
// from the input only in the split faces, and that the filter, asked again, reports only what was left.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <set>
#include <sstream>

#include "mesh_io.h"
#include "run.h"

namespace apptest {
namespace {

namespace io = torvel::io;
using Json = nlohmann::json;

class Fix : public TempDirTest {};

// A 12-gon on the unit circle folded by 70 degrees along its diagonal 3-9 (the y axis): two planar pieces.
std::string folded_12gon_vertices() {
    std::ostringstream s;
    s.precision(17);
    for (int i = 0; i < 12; ++i) {
        const double a = i * std::numbers::pi / 6, x = std::cos(a), y = std::sin(a);
        const double lifted = x > 1e-9 ? x : 0;
        s << "v " << (x > 1e-9 ? x * std::cos(1.22) : x) << ' ' << y << ' ' << lifted * std::sin(1.22) << '\n';
    }
    return s.str();
}

// An OBJ with everything a lossless rewrite must keep, a folded 12-gon, a bent quad written with
// relative indices over a continuation line, a self-crossing bent outline and a zero-length edge.
std::string mixed_obj() {
    return "# before\nmtllib m.mtl\no folded\n" + folded_12gon_vertices() +
           "vt 0 0\nvn 0 0 1\ng a\nusemtl red\ns 1\nf 1/1/1 2/1/1 3/1/1 4/1/1 5/1/1 6/1/1 7/1/1 8/1/1 9/1/1 10/1/1 "
           "11/1/1 12/1/1 # twelve\n"
           "o quad\nv 0 0 0\nv 1 0 0\nv 1 1 1\nv 0 1 0\ns off\nf -4 -3 \\\n -2 -1\n"
           "g crossing\nv 0 0 0\nv 2 2 0\nv 2 0 1\nv 0 2 0\nf 17 18 19 20\n"
           "g zero\nv 5 0 0\nv 6 0 0\nv 6 0 0\nv 6 1 1\nv 5 1 0\nf 21 22 23 24 25\n"
           "f 1 2 3\n# after\n";
}

std::vector<std::string> without(std::vector<std::string> all, std::size_t first, std::size_t count) {
    all.erase(all.begin() + static_cast<std::ptrdiff_t>(first),
              all.begin() + static_cast<std::ptrdiff_t>(first + count));
    return all;
}

TEST_F(Fix, ObjSplitsWhatCanBeSplitKeepsEveryOtherLineAndTheCheckAfterwardsAgrees) {
    const fs::path in = write("m.obj", mixed_obj()), out = dir / "fixed.obj";
    Result r = run({"fix", "-t", "20", in.string(), "-o", out.string(), "--format", "json"});
    ASSERT_EQ(r.code, 1) << r.err;  // two polygons cannot be repaired
    const Json doc = Json::parse(r.out);
    ASSERT_EQ(doc["files"].size(), 1u);
    const Json& file = doc["files"][0];
    EXPECT_EQ(doc["tolerance"], 20);
    ASSERT_EQ(file["split"].size(), 2u);
    EXPECT_EQ(file["split"][0]["index"], 0);
    const auto twelve = file["split"][0]["pieces"].get<std::set<std::vector<int>>>();
    EXPECT_EQ(twelve, (std::set<std::vector<int>>{{3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 3, 9, 10, 11}}));
    EXPECT_EQ(file["split"][1]["index"], 1);
    EXPECT_EQ(file["split"][1]["pieces"].size(), 2u);
    ASSERT_EQ(file["not_repaired"].size(), 2u);
    EXPECT_EQ(file["not_repaired"][0]["index"], 2);
    EXPECT_NE(file["not_repaired"][0]["reason"].get<std::string>().find("crosses itself"), std::string::npos);
    EXPECT_EQ(file["not_repaired"][1]["index"], 3);
    EXPECT_NE(file["not_repaired"][1]["reason"].get<std::string>().find("zero-length edge"), std::string::npos);
    EXPECT_EQ(file["converted"], false);

    // Line by line: only the two split faces' statements differ, each replaced by its pieces in place.
    const auto before = lines(read_file(in)), after = lines(read_file(out));
    std::size_t twelve_line = 0, quad_line = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i].starts_with("f 1/1/1")) twelve_line = i;
        if (before[i].starts_with("f -4")) quad_line = i;
    }
    ASSERT_EQ(after.size(), before.size() + 1 + 0);  // 12-gon: 1 line -> 2; quad: 2 lines -> 2
    EXPECT_EQ(without(without(after, quad_line + 1, 2), twelve_line, 2),
              without(without(before, quad_line, 2), twelve_line, 1))
        << read_file(out);
    EXPECT_TRUE(after[twelve_line].ends_with("# twelve"));
    for (std::size_t k : {twelve_line, twelve_line + 1})
        for (const std::string& token : {std::string(" 4/1/1"), std::string(" 10/1/1")})
            EXPECT_NE(after[k].find(token), std::string::npos) << after[k];  // the fold's ends are in both
    EXPECT_TRUE(after[quad_line + 1].starts_with("f -4 ")) << after[quad_line + 1];
    EXPECT_TRUE(after[quad_line + 2].starts_with("f ")) << after[quad_line + 2];

    // The plug-in, asked about the output, reports exactly the polygons left as they were.
    Result check = run({"check", "-t", "20", "--format", "json", out.string()});
    EXPECT_EQ(check.code, 1) << check.err;
    EXPECT_EQ(Json::parse(check.out)["files"][0]["non_planar"], Json::parse("[4, 5]"));

    Result text = run({"fix", "-t", "20", in.string(), "--dry-run"});
    EXPECT_EQ(text.code, 1);
    EXPECT_EQ(lines(text.out)[0], in.string() + ": 2 polygons split into 4 pieces, 2 not repaired at 20\u00b0");
    EXPECT_TRUE(lines(text.out)[1].starts_with(in.string() + ": polygon 2 not repaired: the outline crosses itself"));
}

TEST_F(Fix, PlyAndOffOutputsDifferOnlyInTheSplitFacesAndPassTheCheck) {
    for (const std::string name : {"mixed.ply", "l_hexagon.off", "mixed.obj"}) {
        const fs::path in = copy_example(name), out = dir / ("fixed_" + name);
        Result r = run({"fix", in.string(), "-o", out.string(), "--format", "json"});
        ASSERT_EQ(r.code, 0) << name << r.err << r.out;
        const Json file = Json::parse(r.out)["files"][0];
        const torvel::PolygonMesh a = io::read_mesh(in), b = io::read_mesh(out);
        EXPECT_EQ(a.positions, b.positions) << name;
        // Element by element: every face that was not split is there, in order; each split face's pieces
        // stand in its place and use its vertices.
        std::set<std::uint32_t> split;
        std::size_t pieces = 0;
        for (const Json& s : file["split"]) {
            split.insert(s["index"].get<std::uint32_t>());
            pieces += s["pieces"].size();
        }
        ASSERT_EQ(b.polygon_count(), a.polygon_count() - split.size() + pieces) << name;
        std::size_t q = 0, s = 0;
        for (std::uint32_t p = 0; p < a.polygon_count(); ++p) {
            const std::vector<std::uint32_t> face(a.indices.begin() + a.offsets[p],
                                                  a.indices.begin() + a.offsets[p + 1]);
            if (!split.count(p)) {
                EXPECT_EQ(
                    std::vector<std::uint32_t>(b.indices.begin() + b.offsets[q], b.indices.begin() + b.offsets[q + 1]),
                    face)
                    << name << " face " << p;
                ++q;
                continue;
            }
            for (const Json& piece : file["split"][s++]["pieces"]) {
                std::vector<std::uint32_t> expected;
                for (const Json& c : piece) expected.push_back(face[c.get<std::size_t>()]);
                EXPECT_EQ(
                    std::vector<std::uint32_t>(b.indices.begin() + b.offsets[q], b.indices.begin() + b.offsets[q + 1]),
                    expected)
                    << name << " face " << p;
                ++q;
            }
        }
        Result check = run({"check", out.string()});
        EXPECT_EQ(check.code, 0) << name << ": " << check.out;
    }
}

TEST_F(Fix, ConvertsWhenTheOutputIsAnotherFormatAndSaysSo) {
    const fs::path in = copy_example("mixed.obj"), out = dir / "fixed.ply";
    Result r = run({"fix", in.string(), "-o", out.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("converted to " + out.string()), std::string::npos) << r.out;
    EXPECT_EQ(run({"check", out.string()}).code, 0);
    EXPECT_EQ(io::read_mesh(out).positions, io::read_mesh(in).positions);
}

// An X file written by hand, read through Assimp: a plate of a flat quad, a bent quad and a bent
// pentagon, and an object of one bent quad whose outline crosses itself.
const char* const kHandX =
    "xof 0303txt 0032\n"
    "Frame Plate {\n Mesh {\n  8;\n  0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;, 2;0;0;, 2;1;0.5;, 3;0.5;0;, 2.5;2;0;;\n"
    "  3;\n  4;0,1,2,3;, 4;1,4,5,2;, 5;4,6,7,5,2;;\n }\n}\n"
    "Frame Crossing {\n Mesh {\n  4;\n  0;0;5;, 2;2;5;, 2;0;6;, 0;2;5;;\n  1;\n  4;0,1,2,3;;\n }\n}\n";

TEST_F(Fix, FilesReadThroughAssimpAreRepairedOnlyIntoAConvertedFile) {
    const fs::path in = write("scene.x", kHandX);
    for (const std::string out_name : {"fixed.obj", "fixed.ply", "fixed.off"}) {
        SCOPED_TRACE(out_name);
        const fs::path out = dir / out_name;
        Result r = run({"fix", "-t", "5", in.string(), "-o", out.string(), "--format", "json"});
        ASSERT_EQ(r.code, 1) << r.err;  // the crossing quad is left
        const Json file = Json::parse(r.out)["files"][0];
        EXPECT_EQ(file["polygons"], 4);
        EXPECT_EQ(file["converted"], true);
        EXPECT_EQ(file["output"], out.string());
        ASSERT_EQ(file["split"].size(), 2u);
        EXPECT_EQ(file["split"][0]["index"], 1);
        EXPECT_EQ(file["split"][1]["index"], 2);
        ASSERT_EQ(file["not_repaired"].size(), 1u);
        EXPECT_EQ(file["not_repaired"][0]["index"], 3);

        // The objects stay apart and keep their names; the one polygon left is the last of the output,
        // marked there, and the only one the filter reports in it.
        const torvel::PolygonMesh written = io::read_mesh(out);
        const std::size_t pieces = file["pieces"].get<std::size_t>();
        EXPECT_EQ(written.polygon_count(), 4 - 2 + pieces);
        if (out_name.ends_with(".obj")) {
            ASSERT_EQ(written.objects.size(), 2u);
            EXPECT_EQ(written.objects[0].name, "Plate");
            EXPECT_EQ(written.objects[1].name, "Crossing");
            EXPECT_EQ(written.objects[1].first, 1 + pieces);
        }
        Result check = run({"check", "-t", "5", "--format", "json", out.string()});
        EXPECT_EQ(Json::parse(check.out)["files"][0]["non_planar"], Json::array({1 + pieces})) << check.err;
    }

    Result text = run({"fix", "-t", "5", in.string(), "-o", (dir / "t.off").string()});
    EXPECT_EQ(lines(text.out).back(),
              in.string() + ": converted to " + (dir / "t.off").string() + " (x read, off written)");
    Result dry = run({"fix", "-t", "5", in.string(), "--dry-run", "--format", "json"});
    EXPECT_EQ(dry.code, 1);
    EXPECT_EQ(Json::parse(dry.out)["files"][0]["converted"], false);
    EXPECT_EQ(Json::parse(dry.out)["files"][0]["output"], nullptr);

    // Only converted: an output in a format torvel cannot write is refused before anything is read, and
    // Assimp's refusal of a malformed file is an error naming it.
    Result same = run({"fix", in.string(), "-o", (dir / "fixed.x").string()});
    EXPECT_EQ(same.code, 2);
    EXPECT_NE(same.err.find("torvel cannot write '.x' files"), std::string::npos) << same.err;
    const fs::path bad = write("bad.x", "xof 0303txt 0032\nFrame F {\n Mesh {\n  8;\n");
    Result broken = run({"fix", bad.string(), "-o", (dir / "b.obj").string(), "--format", "json"});
    EXPECT_EQ(broken.code, 2);
    EXPECT_TRUE(broken.err.starts_with("torvel: " + bad.string() + ": ")) << broken.err;
    EXPECT_EQ(Json::parse(broken.out)["errors"][0]["path"], bad.string());
    EXPECT_FALSE(fs::exists(dir / "b.obj"));
}

TEST_F(Fix, DryRunWritesNothingAndTheInputIsNeverAnOutput) {
    const fs::path in = copy_example("mixed.obj"), out = dir / "fixed.obj";
    const std::string original = read_file(in);
    Result dry = run({"fix", "--dry-run", in.string(), "-o", out.string()});
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(dry.out.find("3 polygons split into"), std::string::npos) << dry.out;

    fs::create_symlink(in, dir / "link.obj");
    for (const fs::path& onto : {in, dir / "link.obj"}) {
        Result r = run({"fix", in.string(), "-o", onto.string()});
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("refusing to overwrite the input"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(in), original);
    }
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(dir), {}).size(), 2u);  // no temporary left
}

TEST_F(Fix, BadInputAndBadArgumentsAreClearErrors) {
    const fs::path bad = write("bad.obj", "v 0 0 0\nv 1 0 0\nv 0 1 x\nf 1 2 3\n");
    Result r = run({"fix", bad.string(), "-o", (dir / "o.obj").string(), "--format", "json"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "torvel: " + bad.string() + ":3: bad z coordinate 'x'\n");
    EXPECT_EQ(Json::parse(r.out)["errors"][0]["message"], bad.string() + ":3: bad z coordinate 'x'");
    EXPECT_FALSE(fs::exists(dir / "o.obj"));

    Result missing = run({"fix", (dir / "none.obj").string(), "--dry-run"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("none.obj: cannot open"), std::string::npos);
    Result no_output = run({"fix", bad.string()});
    EXPECT_EQ(no_output.code, 2);
    EXPECT_NE(no_output.err.find("-o/--output is required"), std::string::npos);
    Result stl = run({"fix", bad.string(), "-o", "x.stl"});
    EXPECT_EQ(stl.code, 2);
    EXPECT_NE(stl.err.find("torvel cannot write '.stl' files"), std::string::npos);
    // Read whole to be rewritten, and refused as the readers refuse them.
    fs::create_directory(dir / "folder.obj");
    const fs::path empty = write("empty.obj", "");
    for (const auto& [path, message] :
         {std::pair{dir / "folder.obj", ": is a folder"}, {empty, ": the file is empty"}}) {
        Result refused = run({"fix", path.string(), "-o", (dir / "o.obj").string()});
        EXPECT_EQ(refused.code, 2);
        EXPECT_EQ(refused.err, "torvel: " + path.string() + message + "\n");
    }
}

// A quad bent by the tolerance to within rounding: the host's measure puts its bend a hair under 5 degrees,
// so the best split keeps it whole, but the plug-in reports it.
const char* const kKnifeEdgeQuad =
    "v -0.0 0.0 0.0\nv -0.9646086712717316 0.2259238398648156 0.0\n"
    "v -1.190532511136547 -0.738684831406916 0.08667612194428062\nv -0.2259238398648156 -0.9646086712717316 0.0\n";

TEST_F(Fix, APieceThePlugInStillReportsIsCutIntoTrianglesInTheFileAndInTheScene) {
    const fs::path in = write("knife.obj", std::string(kKnifeEdgeQuad) + "v 2 0 0\nv 3 0 0\nv 3 1 1\nv 2 1 0\n" +
                                               "f 1 2 3 4\nf 5 6 7 8\n"),
                   out = dir / "fixed.obj";
    Result details = run({"check", "-t", "5", "--details", "--format", "json", in.string()});
    const Json checked = Json::parse(details.out)["files"][0];
    ASSERT_EQ(checked["non_planar"], Json::parse("[0, 1]"));
    const Json& shapes = checked["details"];
    const auto knife = std::find_if(shapes.begin(), shapes.end(), [](const Json& d) { return d["index"] == 0; });
    ASSERT_NE(knife, shapes.end());
    EXPECT_LT((*knife)["bend"].get<double>(), 5.0);  // the knife edge the fallback is for

    Result r = run({"fix", "-t", "5", "--format", "json", in.string(), "-o", out.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json file = Json::parse(r.out)["files"][0];
    ASSERT_EQ(file["split"].size(), 2u);
    EXPECT_EQ(file["split"][0]["index"], 0);
    // Two triangles of the quad, in its order, along one diagonal: the two corners they share.
    const auto triangles = file["split"][0]["pieces"].get<std::vector<std::vector<std::uint32_t>>>();
    ASSERT_EQ(triangles.size(), 2u);
    std::multiset<std::uint32_t> corners;
    for (const auto& t : triangles) {
        ASSERT_EQ(t.size(), 3u);
        EXPECT_TRUE(std::is_sorted(t.begin(), t.end()));
        corners.insert(t.begin(), t.end());
    }
    std::vector<std::uint32_t> shared;
    for (std::uint32_t c = 0; c < 4; ++c) {
        EXPECT_GE(corners.count(c), 1u) << c;
        if (corners.count(c) == 2) shared.push_back(c);
    }
    EXPECT_TRUE(shared == std::vector<std::uint32_t>({0, 2}) || shared == std::vector<std::uint32_t>({1, 3}));
    EXPECT_EQ(file["split"][0]["fewest"], true);  // two pieces: the fewest a reported polygon can have
    Result check = run({"check", "-t", "5", "--format", "json", out.string()});
    EXPECT_EQ(check.code, 0) << check.out;
    EXPECT_EQ(Json::parse(check.out)["files"][0]["non_planar"], Json::array());

    // The knife-edge quad as the best piece of a pentagon (a fifth corner raised beyond its edge 3-0): cut
    // into triangles, the pentagon has three pieces, which is not proven the fewest, and says why.
    const fs::path five = write("knife5.obj", std::string(kKnifeEdgeQuad) + "v 0.37 -0.595 0.5\nf 1 2 3 4 5\n");
    Result pentagon = run({"fix", "-t", "5", "--format", "json", five.string(), "--dry-run"});
    ASSERT_EQ(pentagon.code, 0) << pentagon.err;
    const Json split = Json::parse(pentagon.out)["files"][0]["split"][0];
    EXPECT_EQ(split["pieces"].size(), 3u);
    EXPECT_EQ(split["fewest"], false);
    Result said = run({"fix", "-t", "5", five.string(), "--dry-run"});
    EXPECT_EQ(said.out, five.string() + ": 1 polygon split into 3 pieces, 0 not repaired at 5\u00b0\n" + five.string() +
                            ": 1 of the splits is not proven the fewest pieces (a piece the filter still reported was "
                            "split into triangles)\n");

    // RepairMesh asks the plug-in about the pieces in the scene and ends with the same mesh in the object.
    const fs::path job = write("job.tvs", "LoadPlugin \"" + kPlugin.string() +
                                              "\"\nImportMesh \"knife.obj\"\nRepairMesh \"knife\", 5\n"
                                              "ExportMesh \"knife\", \"scene.obj\"\n");
    Result script = run({"script", job.string()});
    ASSERT_EQ(script.code, 0) << script.err;
    const torvel::PolygonMesh scene = io::read_mesh(dir / "scene.obj"), fixed = io::read_mesh(out);
    EXPECT_EQ(scene.positions, fixed.positions);
    EXPECT_EQ(scene.offsets, fixed.offsets);
    EXPECT_EQ(scene.indices, fixed.indices);
}

// OBJ text of polygons given as corner lists, each with vertices of its own.
std::string polygons_obj(const std::vector<std::vector<std::array<double, 3>>>& polygons) {
    std::ostringstream s;
    s.precision(17);
    std::size_t first = 1;
    for (const auto& polygon : polygons) {
        for (const auto& c : polygon) s << "v " << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
        s << 'f';
        for (std::size_t k = 0; k < polygon.size(); ++k) s << ' ' << first + k;
        s << '\n';
        first += polygon.size();
    }
    return s.str();
}

// A circle of `n` corners at x = `at`: bent up and down twice round (chip, z = 0.3 sin 2t), or flat with
// heights within +-1e-3 drawn from `seed`.
std::vector<std::array<double, 3>> circle(std::size_t n, double at, bool chip, unsigned seed = 0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-1e-3, 1e-3);
    std::vector<std::array<double, 3>> out;
    for (std::size_t k = 0; k < n; ++k) {
        const double t = 2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
        out.push_back({at + std::cos(t), std::sin(t), chip ? 0.3 * std::sin(2 * t) : noise(rng)});
    }
    return out;
}

TEST_F(Fix, LargeAndNoisyPolygonsAreAllRepairedAndEachSplitSaysWhetherItsCountIsTheFewest) {
    // Bent all over into many pieces, beyond what the split search can finish: every polygon is still
    // split, into no more pieces than a triangulation, the filter reports none of the pieces, and each
    // split says whether its count is proven the fewest. The folded 12-gon is (two flat halves).
    std::vector<std::vector<std::array<double, 3>>> polygons;
    {
        std::vector<std::array<double, 3>> twelve;
        std::istringstream vertices(folded_12gon_vertices());
        std::string v;
        for (std::array<double, 3> c; vertices >> v >> c[0] >> c[1] >> c[2];) twelve.push_back(c);
        polygons.push_back(twelve);
    }
    polygons.push_back(circle(128, 3, true));
    polygons.push_back(circle(64, 6, false, 1));
    polygons.push_back(circle(64, 9, false, 2));
    polygons.push_back(circle(300, 12, false, 3));
    polygons.push_back(circle(1000, 15, false, 4));
    const fs::path in = write("noisy.obj", polygons_obj(polygons)), out = dir / "fixed.obj";
    for (const std::string tolerance : {"1", "20"}) {
        SCOPED_TRACE(tolerance);
        Result r = run({"fix", "-t", tolerance, in.string(), "-o", out.string(), "--format", "json"});
        ASSERT_EQ(r.code, 0) << r.err;
        const Json file = Json::parse(r.out)["files"][0];
        EXPECT_EQ(file["not_repaired"], Json::array());
        std::size_t unproven = 0;
        for (const Json& split : file["split"]) {
            const std::size_t corners = polygons[split["index"].get<std::size_t>()].size();
            EXPECT_LE(split["pieces"].size(), corners - 2) << split["index"];
            ASSERT_TRUE(split["fewest"].is_boolean()) << split;
            unproven += split["fewest"].get<bool>() ? 0 : 1;
        }
        if (tolerance == "1") {
            ASSERT_EQ(file["split"].size(), polygons.size());
            EXPECT_EQ(file["split"][0]["fewest"], true);   // the 12-gon
            EXPECT_EQ(file["split"][1]["fewest"], false);  // the chip
            EXPECT_GE(unproven, 4u);
            Result text = run({"fix", "-t", tolerance, in.string(), "--dry-run"});
            ASSERT_GE(lines(text.out).size(), 2u) << text.out;
            EXPECT_EQ(lines(text.out)[1], in.string() + ": " + std::to_string(unproven) +
                                              " of the splits are not proven the fewest pieces (the search's "
                                              "budget was reached)");
        }
        Result check = run({"check", "-t", tolerance, "--format", "json", out.string()});
        EXPECT_EQ(check.code, 0) << check.err;
        EXPECT_EQ(Json::parse(check.out)["files"][0]["non_planar"], Json::array());
    }
}

TEST_F(Fix, ThreeCornersOnALineAreNeverLeftAsATrianglePiece) {
    // Corner 2 lies on the edge from 1 to 3 and corner 5 is raised: no two pieces will do, and the third
    // must not be the triangle 1 2 3, which has no area (and which the filter, judging triangles planar,
    // would let through).
    const fs::path in = write("straight.obj", "v 0 0 0\nv 0.5 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 1\nf 1 2 3 4 5\n");
    for (const std::string tolerance : {"45", "20", "5"}) {
        const fs::path out = dir / ("fixed_" + tolerance + ".obj");
        Result r = run({"fix", "-t", tolerance, in.string(), "-o", out.string(), "--format", "json"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Json::parse(r.out)["files"][0]["split"][0]["fewest"], true);
        const auto faces = lines(read_file(out));
        EXPECT_EQ(std::vector<std::string>(faces.begin() + 5, faces.end()),
                  (std::vector<std::string>{"f 1 2 4", "f 1 4 5", "f 2 3 4"}))
            << tolerance;
        EXPECT_EQ(run({"check", "-t", tolerance, out.string()}).code, 0);
        Result text = run({"fix", "-t", tolerance, in.string(), "--dry-run"});
        EXPECT_EQ(text.out,
                  in.string() + ": 1 polygon split into 3 pieces, 0 not repaired at " + tolerance + "\u00b0\n");
    }
}

}  // namespace
}  // namespace apptest
