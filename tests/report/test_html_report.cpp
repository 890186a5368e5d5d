// The page as text: self-contained, file texts kept out of the markup and scripts, and the arrays the
// page reads decoded back here exactly as written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "html_report.h"

namespace {

using namespace torvel::report;
using nlohmann::json;

const std::string kHostile = "</script><img src=x onerror=alert(1)>";

// The arrays of two quads, which a report's object views.
struct Quads {
    std::vector<double> positions = {10, 0, 0, 11, 0, 0, 11, 1, 0, 10, 1, 0, 12, 0, 0.5, 12, 1, 0};
    std::vector<std::uint32_t> offsets = {0, 4, 8};
    std::vector<std::uint32_t> indices = {0, 1, 2, 3, 1, 4, 5, 2};
};
const Quads kQuads;

FileReport two_quads(const std::string& path, const Quads& q = kQuads) {
    FileReport f;
    f.path = path;
    f.tolerance = 10;
    f.polygons = 2;
    f.non_planar = {1};
    Object o;
    o.name = kHostile;
    o.mesh = {q.positions, q.offsets, q.indices};
    o.states = {PolygonState::planar, PolygonState::reported};
    f.objects.push_back(o);
    f.details.push_back({1, 0, 4, 7, 26.5, std::nullopt, 0.2});
    f.histogram = Histogram{{1, 0, 0, 0, 0, 1, 0}, 0, {2, 1, 1, 1, 1, 1, 0, 0}};
    return f;
}

// The text between the first `open` after `from` and the next `close`.
std::string between(const std::string& page, const std::string& open, const std::string& close, std::size_t from = 0) {
    const std::size_t a = page.find(open, from);
    if (a == std::string::npos) return {};
    const std::size_t b = page.find(close, a + open.size());
    return page.substr(a + open.size(), b - a - open.size());
}

std::string decode_base64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=') break;
        const std::size_t d = alphabet.find(c);
        if (d == std::string::npos) throw std::runtime_error("not base64");
        v = v << 6 | static_cast<unsigned>(d);
        if ((bits += 6) >= 8) out += static_cast<char>((v >> (bits -= 8)) & 0xff);
    }
    return out;
}

template <typename T>
std::vector<T> array_at(const std::string& blob, const json& where) {
    const std::size_t at = where[0], count = where[1];
    EXPECT_EQ(at % 8, 0u);
    std::vector<T> out(count);
    std::memcpy(out.data(), blob.data() + at, count * sizeof(T));
    return out;
}

TEST(HtmlReport, IsOnePageWithItsScriptsInlinedAndNothingFetched) {
    const std::string page = html_report(std::vector<FileReport>{two_quads("a.obj"), two_quads("b.obj")});
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("THREE.OrbitControls"), std::string::npos);
    EXPECT_NE(page.find("REVISION=\"111\""), std::string::npos);
    EXPECT_EQ(page.find("<script src"), std::string::npos);
    EXPECT_EQ(page.find("<link"), std::string::npos);
    // Every script ends where it was meant to: as many closings as openings, two sections, two links.
    std::size_t opened = 0, closed = 0;
    for (std::size_t at = 0; (at = page.find("<script", at)) != std::string::npos; ++at) ++opened;
    for (std::size_t at = 0; (at = page.find("</script>", at)) != std::string::npos; ++at) ++closed;
    EXPECT_EQ(opened, 3u + 2 * 2);
    EXPECT_EQ(closed, opened);
    EXPECT_NE(page.find("<a href=\"#file-1\">b.obj"), std::string::npos);
}

TEST(HtmlReport, TextsFromFilesAreNeverMarkupOrScript) {
    const std::string page = html_report(std::vector<FileReport>{two_quads(kHostile + ".obj")});
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find(kHostile), std::string::npos);
    EXPECT_NE(page.find("<h2>&lt;/script&gt;&lt;img src=x onerror=alert(1)&gt;.obj</h2>"), std::string::npos);
    // In the script, the JSON spells the same text with escapes and reads back whole.
    const json meta = json::parse(between(page, "class=\"meta\">", "</script>"));
    EXPECT_EQ(meta["path"], kHostile + ".obj");
    EXPECT_EQ(meta["objects"][0]["name"], kHostile);

    std::string out;
    HtmlReport report([&out](std::string_view b) { out += b; });
    report.add_error("<b>x</b>.obj", "<b>x</b>.obj: cannot open");
    report.finish();
    EXPECT_EQ(out.find("<b>"), std::string::npos);
    EXPECT_NE(out.find("&lt;b&gt;x&lt;/b&gt;.obj: &lt;b&gt;"), std::string::npos);
}

TEST(HtmlReport, ArraysReadBackAroundTheCentreWithDetailsAsColumns) {
    const std::string page = html_report(std::vector<FileReport>{two_quads("a.obj")});
    const json meta = json::parse(between(page, "class=\"meta\">", "</script>"));
    const std::string blob = decode_base64(between(page, "class=\"blob\">", "</script>"));
    const json& o = meta["objects"][0];
    EXPECT_EQ(o["centre"], json::array({11.0, 0.5, 0.25}));
    EXPECT_NEAR(o["radius"].get<double>(), std::sqrt(1 + 0.25 + 0.0625), 1e-12);
    const auto positions = array_at<float>(blob, o["positions"]);
    ASSERT_EQ(positions.size(), 18u);
    EXPECT_EQ(positions[0], -1.0f);
    EXPECT_EQ(positions[14], 0.25f);
    EXPECT_EQ(array_at<std::uint32_t>(blob, o["indices"]), (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 4, 5, 2}));
    EXPECT_EQ(array_at<std::uint32_t>(blob, o["offsets"]), (std::vector<std::uint32_t>{0, 4, 8}));
    EXPECT_EQ(array_at<std::uint8_t>(blob, o["states"]), (std::vector<std::uint8_t>{0, 1}));

    const json& d = meta["details"];
    EXPECT_EQ(d["count"], 1);
    EXPECT_EQ(array_at<std::uint32_t>(blob, d["index"])[0], 1u);
    EXPECT_EQ(array_at<double>(blob, d["line"])[0], 7.0);
    EXPECT_EQ(array_at<float>(blob, d["bend"])[0], 26.5f);
    EXPECT_EQ(array_at<std::int32_t>(blob, d["corner"])[0], -1);
    EXPECT_EQ(meta["histogram"]["bands"][5], 1);
    EXPECT_EQ(meta["tolerance"], 10.0);
}

TEST(HtmlReport, ArraysThatDisagreeAreRefusedNamingFileAndObject) {
    const auto refused = [](FileReport f, const std::string& what) {
        std::string out;
        HtmlReport report([&out](std::string_view b) { out += b; });
        const std::size_t head = out.size();
        try {
            report.add(f);
            ADD_FAILURE() << "accepted: " << what;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("m.obj: "), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        }
        EXPECT_EQ(out.size(), head) << "part of the file was written";
    };
    Quads bad_index;
    bad_index.indices[5] = 6;
    refused(two_quads("m.obj", bad_index), "vertex index 6 at corner 5 is out of range (6 vertices)");
    FileReport f = two_quads("m.obj");
    f.objects[0].states.pop_back();
    refused(f, "1 states for 2 polygons");
    Quads backwards;
    backwards.offsets = {0, 5, 4};
    refused(two_quads("m.obj", backwards), "polygon 1 run backwards");
    f = two_quads("m.obj");
    f.details[0].object = 3;
    refused(f, "name object 3 of 1");
}

}  // namespace
