// torvel check --details, --top, --histogram and --image: values and order, the JSON shape, the histogram
// against what the filter reports, pictures read back, and -j 2 giving what -j 1 gives.
#include <cmath>
#include <numbers>

#include "render.h"
#include "render_test_util.h"
#include "run.h"

using nlohmann::json;

namespace apptest {
namespace {

// Polygon 0 flat, 1 degenerate (corner 1 on the line of its neighbours), 2 bent by atan(0.5), 3 bent by
// atan(2): a unit square with one corner raised by h is bent by atan(h).
const std::string kShapes =
    "# flat, degenerate, slightly bent, bent\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "v 4 0 0\nv 5 0 0\nv 6 0 0\nv 5 1 0\n"
    "v 0 3 0\nv 1 3 0\nv 1 4 0.5\nv 0 4 0\n"
    "v 3 3 0\nv 4 3 0\nv 4 4 2\nv 3 4 0\n"
    "f 1 2 3 4\n"
    "f 5 6 7 8\n"
    "# slightly bent\n"
    "f 9 10 11 12\n"
    "# bent\n"
    "f 13 14 15 16\n";

double degrees(double radians) { return radians * 180 / std::numbers::pi; }

class Measure : public TempDirTest {
protected:
    std::string shapes() const { return write("shapes.obj", kShapes).string(); }

    // Quads bent by angles spread over every band (none within 0.01° of a band edge, where rounding may
    // go either way), two degenerate ones, a triangle and a bent pentagon.
    std::string generated(const std::string& name, double start) const {
        std::string obj;
        int v = 0;
        auto quad = [&](double x, double h) {
            obj += "v " + std::to_string(x) + " 0 0\nv " + std::to_string(x + 1) + " 0 0\nv " + std::to_string(x + 1) +
                   " 1 " + std::to_string(h) + "\nv " + std::to_string(x) + " 1 0\n";
            obj += "f " + std::to_string(v + 1) + " " + std::to_string(v + 2) + " " + std::to_string(v + 3) + " " +
                   std::to_string(v + 4) + "\n";
            v += 4;
        };
        double x = 0;
        for (double a = start; a < 89.9; a += 0.37, x += 2) quad(x, std::tan(a * std::numbers::pi / 180));
        obj += "v 0 5 0\nv 1 5 0\nv 2 5 0\nv 1 6 0\nf " + std::to_string(v + 1) + " " + std::to_string(v + 2) + " " +
               std::to_string(v + 3) + " " + std::to_string(v + 4) + "\n";
        obj += "v 5 5 0\nv 6 5 0\nv 6 5 0\nv 5 6 0\nf " + std::to_string(v + 5) + " " + std::to_string(v + 6) + " " +
               std::to_string(v + 7) + " " + std::to_string(v + 8) + "\n";
        obj += "v 9 5 0\nv 10 5 0\nv 9 6 0\nf " + std::to_string(v + 9) + " " + std::to_string(v + 10) + " " +
               std::to_string(v + 11) + "\n";
        obj += "v 0 9 0\nv 2 9 0\nv 3 10 1\nv 1 11 0\nv -1 10 0\nf " + std::to_string(v + 12) + " " +
               std::to_string(v + 13) + " " + std::to_string(v + 14) + " " + std::to_string(v + 15) + " " +
               std::to_string(v + 16) + "\n";
        return write(name, obj).string();
    }
};

TEST_F(Measure, DetailsListTheReportedPolygonsWorstFirstAndDegenerateLast) {
    const std::string path = shapes();
    Result r = run({"check", "-t", "20", "--details", path});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                path + ": 3 of 4 polygons non-planar at 20\u00b0: 1-3",
                                "  polygon 3 (shapes, 4 vertices, line 23): bend 63.43\u00b0, out of plane 0.1179",
                                "  polygon 2 (shapes, 4 vertices, line 21): bend 26.57\u00b0, out of plane 0.07857",
                                "  polygon 1 (shapes, 4 vertices, line 19): degenerate at corner 1 (collinear), "
                                "out of plane 0",
                            }));

    // --top keeps the worst; it implies --details. The verdict itself is unchanged.
    Result top = run({"check", "-t", "20", "--top", "2", path});
    const std::vector<std::string> all = lines(r.out);
    EXPECT_EQ(lines(top.out), (std::vector<std::string>(all.begin(), all.begin() + 3)));
    for (const std::string bad : {"0", "-1", "x", ""}) {
        Result refused = run({"check", "--top", bad, path});
        EXPECT_EQ(refused.code, 2) << bad;
        EXPECT_NE(refused.err.find("--top"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(run({"check", "-l", "--details", path}).code, 2);

    // A flat file gets its line and nothing more.
    Result flat = run({"check", "--details", (kExamples / "flat_quads.obj").string()});
    EXPECT_EQ(lines(flat.out).size(), 1u) << flat.out;
}

TEST_F(Measure, DetailsInJsonCarryEveryFieldWithNullForWhatIsAbsent) {
    const std::string path = shapes();
    Result r = run({"check", "-t", "20", "--details", "--format", "json", path, (kExamples / "mixed.ply").string()});
    ASSERT_EQ(r.code, 1) << r.err;
    const json doc = json::parse(r.out);
    const json& details = doc["files"][0]["details"];
    ASSERT_EQ(details.size(), 3u) << r.out;
    EXPECT_EQ(doc["files"][0]["non_planar"], json({1, 2, 3}));

    const json& worst = details[0];
    // Fields in their documented order, after the file's own.
    EXPECT_NE(r.out.find("\"precision\":\"double\",\"details\":[{\"index\":3,\"object\":\"shapes\",\"vertices\":4,"
                         "\"line\":23,\"bend\":"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(",\"degenerate\":null,\"out_of_plane\":"), std::string::npos) << r.out;
    EXPECT_EQ(worst["index"], 3);
    EXPECT_EQ(worst["object"], "shapes");
    EXPECT_EQ(worst["vertices"], 4);
    EXPECT_EQ(worst["line"], 23);
    EXPECT_NEAR(worst["bend"].get<double>(), degrees(std::atan(2.0)), 1e-9);
    EXPECT_TRUE(worst["degenerate"].is_null());
    // Newell normal (-1, -1, 1): corners 0.5 / sqrt(3) off the plane; diameter sqrt(6).
    EXPECT_NEAR(worst["out_of_plane"].get<double>(), 0.5 / std::sqrt(18.0), 1e-12);
    EXPECT_NEAR(details[1]["bend"].get<double>(), degrees(std::atan(0.5)), 1e-9);

    const json& broken = details[2];
    EXPECT_EQ(broken["index"], 1);
    EXPECT_TRUE(broken["bend"].is_null());
    EXPECT_EQ(broken["degenerate"], json({{"corner", 1}, {"cause", "collinear"}}));
    EXPECT_EQ(broken["out_of_plane"], 0.0);

    // PLY has no lines; its details follow its own index list.
    const json& ply = doc["files"][1];
    ASSERT_EQ(ply["details"].size(), ply["non_planar"].size());
    for (const json& d : ply["details"]) {
        EXPECT_TRUE(d["line"].is_null());
        EXPECT_EQ(d["object"], "mixed");
    }
    // Without --details the document is as it always was.
    EXPECT_FALSE(json::parse(run({"check", "--format", "json", path}).out)["files"][0].contains("details"));
}

TEST_F(Measure, HistogramCountsAreWhatTheFilterReportsAtEachBandEdge) {
    const std::string a = generated("a.obj", 0.05), b = generated("b.obj", 0.21);
    Result r = run({"check", "--histogram", "--format", "json", a, b});
    ASSERT_NE(r.code, 2) << r.err;
    const json doc = json::parse(r.out);
    const std::vector<double> edges{0, 1, 2, 5, 10, 20, 45, 90};
    for (std::size_t f = 0; f < 2; ++f) {
        const json& h = doc["files"][f]["histogram"];
        ASSERT_EQ(h["bands"].size(), 7u);
        ASSERT_EQ(h["reported"].size(), edges.size());
        EXPECT_EQ(h["degenerate"], 2);
        std::uint64_t in_bands = 0;
        for (std::size_t k = 0; k < 7; ++k) {
            EXPECT_EQ(h["bands"][k]["from"], edges[k]);
            EXPECT_EQ(h["bands"][k]["to"], edges[k + 1]);
            EXPECT_GT(h["bands"][k]["polygons"].get<std::uint64_t>(), 0u) << "band " << k;
            in_bands += h["bands"][k]["polygons"].get<std::uint64_t>();
        }
        EXPECT_EQ(h["polygons"], in_bands + 2);  // the triangle is not counted
        for (std::size_t k = 0; k < edges.size(); ++k) {
            EXPECT_EQ(h["reported"][k]["tolerance"], edges[k]);
            const json checked =
                json::parse(run({"check", "-t", std::to_string(edges[k]), "--format", "json", f ? b : a}).out);
            EXPECT_EQ(h["reported"][k]["polygons"], checked["files"][0]["non_planar"].size())
                << "file " << f << " at " << edges[k];
        }
    }
    // The run's histogram adds up the files'.
    for (std::size_t k = 0; k < edges.size(); ++k)
        EXPECT_EQ(doc["histogram"]["reported"][k]["polygons"].get<std::uint64_t>(),
                  doc["files"][0]["histogram"]["reported"][k]["polygons"].get<std::uint64_t>() +
                      doc["files"][1]["histogram"]["reported"][k]["polygons"].get<std::uint64_t>());

    // As text (not a terminal: numbers, no bars), after each file's line, and for all files at the end.
    Result text = run({"check", "--histogram", "-t", "45", a, b});
    const std::vector<std::string> out = lines(text.out);
    ASSERT_EQ(out.size(), 1 + 10 + 1 + 10 + 10 + 1u) << text.out;
    EXPECT_EQ(out[1].rfind("  bend histogram of ", 0), 0u) << out[1];
    const std::string first_band = std::to_string(doc["files"][0]["histogram"]["bands"][0]["polygons"].get<int>());
    EXPECT_EQ(out[2].rfind("    0-1\u00b0 ", 0), 0u) << out[2];
    EXPECT_EQ(out[2].substr(out[2].size() - first_band.size() - 1), " " + first_band) << out[2];
    EXPECT_EQ(out[22].rfind("all files: bend histogram of ", 0), 0u) << out[22];
    EXPECT_EQ(out[32].rfind("summary: 2 files checked", 0), 0u) << out[32];
    EXPECT_EQ(text.out.find("\u2588"), std::string::npos);
}

// Where a point of shapes.obj lands in the front view of a picture of it.
std::array<int, 2> front_pixel(double x, double y, double z) {
    rendertest::Mesh m;
    for (const char* line : {"0 0 0", "1 0 0", "1 1 0", "0 1 0", "4 0 0", "5 0 0", "6 0 0", "5 1 0", "0 3 0", "1 3 0",
                             "1 4 0.5", "0 4 0", "3 3 0", "4 3 0", "4 4 2", "3 4 0"}) {
        double p[3];
        std::sscanf(line, "%lf %lf %lf", &p[0], &p[1], &p[2]);
        m.vertex(p[0], p[1], p[2]);
    }
    using torvel::render::PolygonState;
    for (std::uint32_t q = 0; q < 4; ++q) m.polygon({4 * q, 4 * q + 1, 4 * q + 2, 4 * q + 3}, PolygonState::planar);
    const torvel::render::Object objects[] = {m.view()};
    const auto views = torvel::render::frame_views(objects, {1024, 1024, {"file", "counts"}});
    const auto at = views[0].to_sheet(x, y, z);
    return {static_cast<int>(at->at(0)), static_cast<int>(at->at(1))};
}

TEST_F(Measure, APictureShowsReportedPolygonsRedAndPlanarOnesGreySameBytesEachRun) {
    const std::string path = shapes();
    const fs::path png = dir / "shapes.png";
    Result r = run({"check", "--image", png.string(), path});
    ASSERT_EQ(r.code, 1) << r.err;
    const std::string bytes = read_file(png);
    const rendertest::Image image = rendertest::decode_png({bytes.begin(), bytes.end()});
    EXPECT_EQ(image.width, 1024);
    EXPECT_EQ(image.height, 1024);
    const auto bent = front_pixel(3.5, 3.5, 0.5), flat = front_pixel(0.5, 0.5, 0), slight = front_pixel(0.5, 3.5, 0);
    EXPECT_TRUE(rendertest::is_red(image.at(bent[0], bent[1])));
    EXPECT_TRUE(rendertest::is_grey(image.at(flat[0], flat[1])));
    EXPECT_TRUE(rendertest::is_grey(image.at(slight[0], slight[1])));  // bent by 26.6°, under the tolerance
    const auto degenerate = front_pixel(5, 0.3, 0);
    EXPECT_TRUE(rendertest::is_magenta(image.at(degenerate[0], degenerate[1])));

    ASSERT_EQ(run({"check", "--image", png.string(), path}).code, 1);
    EXPECT_EQ(read_file(png), bytes);
    // At 20° the slightly bent quad is the filter's too.
    ASSERT_EQ(run({"check", "-t", "20", "--image", png.string(), path}).code, 1);
    const std::string strict = read_file(png);
    const rendertest::Image redder = rendertest::decode_png({strict.begin(), strict.end()});
    EXPECT_TRUE(rendertest::is_red(redder.at(slight[0], slight[1])));
}

TEST_F(Measure, PicturesOfSeveralFilesGoInAFolderUnderUniqueNamesAndNeverOverAnInput) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    const std::string one = copy_example("mixed.obj", "a/m.obj").string();
    const std::string two = copy_example("mixed.obj", "b/m.obj").string();
    const std::string three = copy_example("mixed.ply", "b/m.ply").string();
    Result r = run({"check", "--image", (dir / "pictures").string(), one, two, three});
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(fs::exists(dir / "pictures" / "m.obj.png"));
    EXPECT_TRUE(fs::exists(dir / "pictures" / "m.obj-2.png"));
    EXPECT_TRUE(fs::exists(dir / "pictures" / "m.ply.png"));

    // A single picture is a .png; several need a folder; none replaces what the run reads.
    Result jpg = run({"check", "--image", (dir / "x.jpg").string(), one});
    EXPECT_EQ(jpg.code, 2);
    EXPECT_NE(jpg.err.find(".png"), std::string::npos) << jpg.err;
    const fs::path file = write("taken.png", "x");
    EXPECT_EQ(run({"check", "--image", file.string(), one, two}).code, 2);
    const fs::path log = dir / "run.png";
    Result clash = run({"check", "--log", log.string(), "--image", log.string(), one});
    EXPECT_EQ(clash.code, 2);
    EXPECT_FALSE(fs::exists(log)) << clash.err;
}

TEST_F(Measure, WorkersGiveWhatOneProcessGives) {
    const std::vector<std::string> files{shapes(), generated("g.obj", 0.05), (kExamples / "mixed.ply").string(),
                                         (kExamples / "flat_quads.obj").string()};
    auto args = [&](const char* jobs, std::vector<std::string> options) {
        options.insert(options.begin(), {"check", "-j", jobs, "-t", "20"});
        options.insert(options.end(), files.begin(), files.end());
        return options;
    };
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--details", "--histogram"}, {"--top", "1", "--histogram", "--format", "json"}}) {
        Result one = run(args("1", options)), two = run(args("2", options));
        EXPECT_EQ(one.code, 1) << one.err;
        EXPECT_EQ(two.code, one.code);
        EXPECT_EQ(two.out, one.out);
        EXPECT_EQ(two.err, one.err);
    }
    Result one = run(args("1", {"--image", (dir / "one").string()}));
    Result two = run(args("2", {"--image", (dir / "two").string()}));
    ASSERT_EQ(two.code, one.code) << two.err;
    for (const char* name : {"shapes.obj.png", "g.obj.png", "mixed.ply.png", "flat_quads.obj.png"})
        EXPECT_EQ(read_file(dir / "two" / name), read_file(dir / "one" / name)) << name;
}

// Measures from a worker that disagree with its verdict are refused like any malformed result.
TEST_F(Measure, AWorkerWhoseDetailsDisagreeWithItsResultMakesItsFileAnError) {
    const std::string bad = copy_example("mixed.obj", "bad.obj").string();
    const std::string fine = copy_example("twisted_quad.obj", "fine.obj").string();
    RunOptions tampered;
    tampered.env["TORVEL_TEST_WORKER_BAD_MEASURES"] = "bad.obj";
    Result r = run({"check", "-j", "2", "--details", bad, fine}, tampered);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "torvel: " + bad + ": the check failed: its worker sent malformed data\n");
    EXPECT_EQ(lines(r.out).size(), 3u) << r.out;  // fine.obj, its detail, the summary
}

}  // namespace
}  // namespace apptest
