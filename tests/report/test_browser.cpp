// torvel check --html opened in headless Chromium. The page, loaded with ?selftest=1, writes what it finds
// into its DOM (errors, the list's order, a row's click, a pick, where polygons are drawn); a screenshot
// of the same page is read back with libpng. Without a browser the tests are skipped with a message, but
// never where CI is set: there a missing browser fails.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "polygon_shape.h"
#include "mesh_io.h"
#include "render_test_util.h"
#include "run.h"

namespace {

using namespace apptest;
using nlohmann::json;

RunOptions in(const fs::path& cwd, const fs::path& exe = kTorvel) {
    RunOptions o;
    o.cwd = cwd;
    o.exe = exe;
    return o;
}

fs::path browser() {
    if (const char* env = std::getenv("TORVEL_CHROMIUM"); env && *env) return env;
    return "/usr/bin/chromium";
}

// Three quads in a row along x: flat, bent (a corner lifted), flat.
const std::string kRow =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "v 2 0 0\nv 2 1 0.8\n"
    "v 3 0 0\nv 3 1 0\nv 2 1 0\n"
    "f 1 2 3 4\nf 2 5 6 3\nf 5 7 8 9\n";

class BrowserTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!fs::exists(browser())) {
            if (std::getenv("CI")) FAIL() << "no browser at " << browser() << " in CI: run scripts/setup";
            GTEST_SKIP() << "no browser: " << browser() << " is not installed (scripts/setup installs chromium)";
        }
    }

    // torvel check --html; returns the report's path.
    fs::path report(const std::vector<std::string>& meshes, const std::vector<std::string>& extra = {}) {
        const fs::path out = dir / "report.html";
        std::vector<std::string> args{"check", "-q", "--plugin", kPlugin.string(), "--html", out.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), meshes.begin(), meshes.end());
        const Result r = run(args, in(dir));
        EXPECT_LE(r.code, 1) << r.err;
        return out;
    }

    Result chromium(const std::string& url, const std::string& mode) {
        return run(
            {"--headless", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
             "--window-size=1200,900", "--hide-scrollbars", "--user-data-dir=" + (dir / "profile").string(), mode, url},
            in(dir, browser()));
    }

    // What the page's self-check wrote.
    json selftest(const fs::path& page, std::string* dom = nullptr) {
        const Result r = chromium("file://" + page.string() + "?selftest=1", "--dump-dom");
        const std::size_t a = r.out.find("<pre id=\"selftest\">");
        const std::size_t b = r.out.find("</pre>", a);
        if (a == std::string::npos || b == std::string::npos) {
            ADD_FAILURE() << "no self-check in the page (exit " << r.code << "): " << r.err.substr(0, 2000);
            return json::object();
        }
        if (dom) *dom = r.out;
        std::string text = r.out.substr(a + 19, b - a - 19);
        // The DOM dump escapes the text of the <pre>.
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
            for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
                text.replace(at, from.size(), to);
        return json::parse(text);
    }
};

rendertest::Rgba pixel(const rendertest::Image& image, const json& at) {
    return image.at(static_cast<int>(at[0].get<double>()), static_cast<int>(at[1].get<double>()));
}

TEST_F(BrowserTest, BentQuadIsRedFlatOnesGreyAndARowFramesItsPolygon) {
    write("row.obj", kRow);
    const fs::path page = report({"row.obj"}, {"-t", "5"});
    const json found = selftest(page);
    EXPECT_EQ(found["errors"], json::array());
    EXPECT_EQ(found["rows"], json::array({1}));
    EXPECT_EQ(found["rowClick"]["polygon"], 1);
    EXPECT_TRUE(found["rowClick"]["viewChanged"]);
    EXPECT_TRUE(found["rowClick"]["cameraMoved"]);
    EXPECT_TRUE(found["rowClick"]["selected"]);
    // A click in the view on the framed polygon names it, its object, bend and corners.
    EXPECT_EQ(found["pick"].get<std::string>().rfind("polygon 1\nobject row\nbend ", 0), 0u) << found["pick"];
    EXPECT_NE(found["pick"].get<std::string>().find("\nvertices 4"), std::string::npos);

    const Result shot = chromium("file://" + page.string(), "--screenshot=" + (dir / "shot.png").string());
    ASSERT_TRUE(fs::exists(dir / "shot.png")) << shot.err.substr(0, 2000);
    const std::string png = read_file(dir / "shot.png");
    const rendertest::Image image = rendertest::decode_png(std::vector<unsigned char>(png.begin(), png.end()));
    const json& at = found["projected"];
    const auto red = [](rendertest::Rgba c) { return c.r > 120 && c.r > 2 * c.g && c.r > 2 * c.b; };
    const auto grey = [](rendertest::Rgba c) {
        return c.r > 60 && c.r < 240 && std::abs(c.r - c.g) < 12 && std::abs(c.r - c.b) < 12;
    };
    for (const char* flat : {"0", "2"}) {
        const rendertest::Rgba c = pixel(image, at[flat]);
        EXPECT_TRUE(grey(c)) << "polygon " << flat << " at " << at[flat] << ": " << +c.r << "," << +c.g << "," << +c.b;
    }
    const rendertest::Rgba c = pixel(image, at["1"]);
    EXPECT_TRUE(red(c)) << "polygon 1 at " << at["1"] << ": " << +c.r << "," << +c.g << "," << +c.b;
}

// Flat polygons side by side in z = 0: a U (3 x 3, its notch 1 wide and 2 deep), a square ring 4 across
// whose outline goes round a hole 2 across through a bridge (the bridge's two corners used twice), and a
// square. The mean of the U's corners and of the ring's lies in the notch and in the hole.
const std::string kConcave =
    "v 0 0 0\nv 3 0 0\nv 3 3 0\nv 2 3 0\nv 2 1 0\nv 1 1 0\nv 1 3 0\nv 0 3 0\n"
    "v 4 0 0\nv 8 0 0\nv 8 4 0\nv 4 4 0\nv 4 2 0\nv 5 2 0\nv 5 3 0\nv 7 3 0\nv 7 1 0\nv 5 1 0\n"
    "v 9 0 0\nv 10 0 0\nv 10 1 0\nv 9 1 0\n"
    "f 1 2 3 4 5 6 7 8\n"
    "f 9 10 11 12 13 14 15 16 17 18 14 13\n"
    "f 19 20 21 22\n";

// The view draws a concave polygon as its outline has it: the U's notch and the ring's hole stay open
// (a fan from the first corner would fill both), and the area drawn is the polygon's own.
TEST_F(BrowserTest, ConcavePolygonsShowTheirNotchAndTheirHole) {
    write("concave.obj", kConcave);
    const fs::path page = report({"concave.obj"});
    const json found = selftest(page);
    EXPECT_EQ(found["errors"], json::array());
    ASSERT_EQ(found["areas"].size(), 3u) << found;
    EXPECT_NEAR(found["areas"][0].get<double>(), 9 - 2, 1e-4);   // the U
    EXPECT_NEAR(found["areas"][1].get<double>(), 16 - 4, 1e-4);  // the ring
    EXPECT_NEAR(found["areas"][2].get<double>(), 1, 1e-4);

    const Result shot = chromium("file://" + page.string(), "--screenshot=" + (dir / "shot.png").string());
    ASSERT_TRUE(fs::exists(dir / "shot.png")) << shot.err.substr(0, 2000);
    const std::string png = read_file(dir / "shot.png");
    const rendertest::Image image = rendertest::decode_png(std::vector<unsigned char>(png.begin(), png.end()));
    const json& at = found["projected"];
    const auto white = [](rendertest::Rgba c) { return c.r > 250 && c.g > 250 && c.b > 250; };
    for (const char* open : {"0", "1"}) {
        const rendertest::Rgba c = pixel(image, at[open]);
        EXPECT_TRUE(white(c)) << "polygon " << open << " at " << at[open] << ": " << +c.r << "," << +c.g << "," << +c.b;
    }
    const rendertest::Rgba c = pixel(image, at["2"]);
    EXPECT_TRUE(!white(c) && std::abs(c.r - c.g) < 12) << "the square at " << at["2"] << ": " << +c.r << "," << +c.g;
}

// The list is the reported polygons, worst bend first, as the geometry library describes them; with -j
// the report is the same page byte for byte.
TEST_F(BrowserTest, ListHasTheReportedPolygonsWorstFirstAlsoFromWorkers) {
    copy_example("mixed.obj");
    copy_example("twisted_quad.obj");
    const fs::path page = report({"mixed.obj", "twisted_quad.obj"}, {"-j", "1"});
    const std::string one = read_file(page);
    report({"mixed.obj", "twisted_quad.obj"}, {"-j", "2"});
    EXPECT_TRUE(read_file(page) == one) << "-j 2 wrote another page";

    const torvel::PolygonMesh mesh = torvel::io::read_mesh(dir / "mixed.obj");
    const Result checked = run({"check", "--format", "json", "--plugin", kPlugin.string(), "mixed.obj"}, in(dir));
    const std::vector<std::uint32_t> reported = json::parse(checked.out)["files"][0]["non_planar"];
    const torvel::MeshView view{mesh.positions, mesh.offsets, mesh.indices};
    const auto shapes = torvel::geometry::describe_mesh(view, reported);
    std::vector<std::pair<double, std::uint32_t>> by_bend;
    for (std::size_t k = 0; k < reported.size(); ++k) by_bend.push_back({-shapes[k].bend.value_or(1e9), reported[k]});
    std::sort(by_bend.begin(), by_bend.end());
    json expected = json::array();
    for (const auto& [bend, index] : by_bend) expected.push_back(index);
    ASSERT_GE(expected.size(), 2u);

    std::string dom;
    const json found = selftest(page, &dom);
    EXPECT_EQ(found["errors"], json::array());
    EXPECT_EQ(found["files"], 2);
    EXPECT_EQ(found["rows"], expected);
    EXPECT_NE(dom.find("href=\"#file-1\">twisted_quad.obj"), std::string::npos);
}

TEST_F(BrowserTest, AFileNamedAsMarkupIsShownNotRun) {
    const std::string name = "<img src=x onerror=alert(1)>.obj";
    write(name, kRow);
    const fs::path page = report({name}, {"-t", "5"});
    std::string dom;
    const json found = selftest(page, &dom);
    EXPECT_EQ(found["errors"], json::array());  // an alert() would be recorded here
    EXPECT_EQ(found["images"], 0);
    EXPECT_NE(dom.find("<h2>&lt;img src=x onerror=alert(1)&gt;.obj</h2>"), std::string::npos);
    EXPECT_NE(dom.find("objects: </b>&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
}

}  // namespace

namespace {

// The report is an output like the others: it never replaces a file of the run, and a failure leaves
// nothing behind.
TEST_F(TempDirTest, HtmlReportFollowsTheOutputRule) {
    copy_example("mixed.obj");
    Result r = run({"check", "--plugin", kPlugin.string(), "--html", "mixed.obj", "mixed.obj"}, in(dir));
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "torvel: --html mixed.obj: refusing to overwrite the input mixed.obj\n");
    r = run({"check", "--plugin", kPlugin.string(), "--html", "r.html", "--log", "r.html", "mixed.obj"}, in(dir));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("r.html"), std::string::npos) << r.err;
    r = run({"check", "--format", "json", "--plugin", kPlugin.string(), "--html", "no/such/r.html", "mixed.obj"},
            in(dir));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("torvel: --html no/such/r.html: "), std::string::npos) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "left something behind";
    // A file that could not be checked is listed in the page; the others are shown.
    r = run({"check", "--plugin", kPlugin.string(), "--html", "r.html", "missing.obj", "mixed.obj"}, in(dir));
    EXPECT_EQ(r.code, 2);
    const std::string page = read_file(dir / "r.html");
    EXPECT_NE(page.find("missing.obj: cannot open: No such file or directory"), std::string::npos);
    EXPECT_NE(page.find("<h2>mixed.obj</h2>"), std::string::npos);
}

}  // namespace
