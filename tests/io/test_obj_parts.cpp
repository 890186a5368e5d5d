// The OBJ reader on several threads against the reader on one: the same arrays to the bit, the same
// first error. Small parts (detail::parse_obj_in_parts) put many cuts into small texts.
#include "io_test_util.h"
#include "obj_parts.h"
#include "work_threads.h"

#include <cstdlib>
#include <optional>
#include <random>

using namespace torvel::io;
using iotest::error_of;
using iotest::expect_same_mesh;

namespace {

// A file with everything a cut may fall beside or inside: long n-gon lines, continuations (also in
// comments), negative and forward indices, `o` statements (also empty ones), CRLF lines, blanks,
// statements that are skipped. Vertices get random doubles printed with 17 digits.
std::string generated_obj(std::size_t faces, unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    std::uniform_real_distribution<double> coord(-1e3, 1e3);
    std::string s = "# generated\nmtllib m.mtl\n";
    char buf[160];
    std::size_t vertices = 0;
    auto vertex = [&] {
        const char* forms[] = {"v %.17g %.17g %.17g\n", "  v\t%.17g %.17g \\\n %.17g\r\n", "v %.17g %.17g %.17g 1.0\n",
                               "v %.17g \\\n\\\n %.17g %.17g # note \\\n"};
        std::snprintf(buf, sizeof buf, forms[pick(4)], coord(rng), coord(rng), coord(rng));
        s += buf;
        ++vertices;
    };
    for (int i = 0; i < 8; ++i) vertex();
    for (std::size_t f = 0; f < faces; ++f) {
        while (pick(3) == 0) vertex();
        switch (pick(12)) {
            case 0: s += "o part " + std::to_string(f) + "\n"; break;
            case 1: s += "o empty\no next\r\n"; break;
            case 2: s += "# a comment that goes on \\\n\nvt 0 1\ng grp\ns 1\n"; break;
            default: break;
        }
        // Mostly triangles and quads, now and then a polygon long enough to hold several cuts.
        const std::size_t n = pick(20) == 0 ? 40 + pick(200) : 3 + pick(2);
        s += "f";
        for (std::size_t c = 0; c < n; ++c) {
            const std::size_t v = pick(static_cast<unsigned>(vertices));
            switch (pick(5)) {
                case 0: s += " -" + std::to_string(vertices - v); break;
                case 1: s += " " + std::to_string(v + 1) + "/1/" + std::to_string(v + 1); break;
                case 2: s += " \\\n " + std::to_string(v + 1); break;
                case 3: s += " " + std::to_string(vertices + 1 + pick(2)); break;  // defined below
                default: s += " " + std::to_string(v + 1); break;
            }
        }
        s += pick(4) == 0 ? " # done\r\n" : "\n";
    }
    vertex();
    vertex();
    s += "\n  \n";
    return s;
}

PolygonMesh parse_on_one_thread(const std::string& text) {
    return iotest::on_one_thread([&] { return parse_obj(text, "big.obj"); });
}

}  // namespace

TEST(ObjParts, ThreadsGiveTheSameArraysAsOneThread) {
    for (const std::size_t faces : {1, 50, 700, 6000}) {
        const std::string text = generated_obj(faces, static_cast<unsigned>(faces));
        const PolygonMesh one = parse_on_one_thread(text);
        ASSERT_GT(one.polygon_count(), 0u);
        for (const std::size_t part : {1, 7, 100, 4096, 1 << 20}) {
            for (const unsigned threads : {2u, 3u}) {
                SCOPED_TRACE("faces " + std::to_string(faces) + ", part " + std::to_string(part) + ", threads " +
                             std::to_string(threads));
                bool in_parts = false;
                expect_same_mesh(detail::parse_obj_in_parts(text, "big.obj", threads, part, &in_parts), one);
                EXPECT_EQ(in_parts, part < text.size() / 2);  // the counts matched: no parse in one go
            }
        }
    }
    // A file starting with a UTF-8 byte-order mark, and one without a final newline.
    const std::string text = "\xEF\xBB\xBF" + generated_obj(300, 9) + "f 1 2 3";
    bool in_parts = false;
    expect_same_mesh(detail::parse_obj_in_parts(text, "big.obj", 2, 64, &in_parts), parse_on_one_thread(text));
    EXPECT_TRUE(in_parts);
}

TEST(ObjParts, FirstErrorIsTheEarliestInTheFileWithItsLine) {
    const std::string good = generated_obj(400, 3);
    std::vector<std::size_t> starts{0};  // every line start
    for (std::size_t i = 0; i + 1 < good.size(); ++i)
        if (good[i] == '\n') starts.push_back(i + 1);
    const std::string bad_lines[] = {"v 1 x 3\n", "f 1 2\n",       "f -100000 1 2\n",
                                     "bogus 1\n", "f 1 2 99999\n", "v 1 2 3 \\ 4\n"};
    std::size_t checked = 0;
    for (std::size_t at = 0; at < starts.size(); at += 37) {
        std::string text = good;
        text.insert(starts[at], bad_lines[at % std::size(bad_lines)]);
        if (at % 2) text.insert(text.size() - 30 + text.substr(text.size() - 30).find('\n') + 1, "bogus late\n");
        const auto one = error_of([&] { return parse_on_one_thread(text); });
        // A line inserted after a continued one joins its statement and may parse; only errors compare.
        if (!one) continue;
        ++checked;
        for (const std::size_t part : {5, 300, 2000}) {
            const auto many = error_of([&] { return detail::parse_obj_in_parts(text, "big.obj", 2, part); });
            EXPECT_EQ(many, one) << "bad line at line " << at + 1 << ", part " << part;
        }
    }
    EXPECT_GT(checked, 20u);
    // Only a forward reference that is never defined: reported at the end, with the line of the greatest.
    const std::string forward = good + "f 1 2 900000\nf 1 2 900000\nf 1 2 800000\n";
    const auto one = error_of([&] { return parse_on_one_thread(forward); });
    ASSERT_TRUE(one);
    EXPECT_NE(one->find("vertex index 900000 out of range"), std::string::npos) << *one;
    EXPECT_EQ(error_of([&] { return detail::parse_obj_in_parts(forward, "big.obj", 2, 100); }), one);
}

TEST(ObjParts, ThreadCountComesFromTheSettingThenTheEnvironment) {
    ::setenv("TORVEL_THREADS", "3", 1);
    EXPECT_EQ(torvel::work_threads(), 3u);
    torvel::set_work_threads(5);
    EXPECT_EQ(torvel::work_threads(), 5u);
    torvel::set_work_threads(0);
    ::setenv("TORVEL_THREADS", "many", 1);
    const unsigned cores = torvel::work_threads();
    ::unsetenv("TORVEL_THREADS");
    EXPECT_EQ(torvel::work_threads(), cores);
    EXPECT_GE(cores, 1u);
}
