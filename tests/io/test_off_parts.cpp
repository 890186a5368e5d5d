// The OFF reader reading its vertex and face blocks in parts on several threads against the single
// pass: the same arrays to the bit, the same first error for a bad file. Small parts
// (detail::parse_off_in_parts) put many part boundaries into small files.
#include "io_test_util.h"
#include "off_parts.h"

#include <random>

using namespace torvel::io;
using iotest::error_of;
using iotest::expect_same_mesh;

namespace {

enum class Layout { lines, comment_line, blank_line, trailing_comment, two_faces_on_a_line };

// An OFF file (COFF when `colours`: four values after every vertex, and an RGB after every face) of
// `vertices` vertices and twice as many n-gons of 3 to 9 corners, one record per line, with blanks, tabs
// and CRLF here and there, and comments and a blank line in the header and after the last face. Every
// layout but `lines` puts something the parts leave to the single pass in the middle of the blocks.
std::string generated_off(std::size_t vertices, bool colours, Layout layout = Layout::lines, bool end_newline = true) {
    std::mt19937 rng(static_cast<unsigned>(vertices * 7 + colours));
    std::uniform_real_distribution<double> coord(-1e3, 1e3);
    const std::size_t faces = 2 * vertices;
    std::string s = std::string(colours ? "COFF" : "OFF") + "\n# made by a test\n\n" + std::to_string(vertices) + " " +
                    std::to_string(faces) + " 0  # counts\n";
    auto line_end = [&](std::size_t n, std::size_t middle) {
        if (n != middle) return std::string(rng() % 5 == 0 ? " \t\r\n" : "\n");
        switch (layout) {
            case Layout::comment_line: return std::string("\n# half way\n");
            case Layout::blank_line: return std::string("\n\r\n");
            case Layout::trailing_comment: return std::string(" # half way\n");
            case Layout::two_faces_on_a_line: return std::string(" ");
            default: return std::string("\n");
        }
    };
    char buf[200];
    for (std::size_t v = 0; v < vertices; ++v) {
        std::snprintf(buf, sizeof buf, rng() % 4 ? "%.17g %.17g %.17g" : "\t%.17g  %.17g %.17g", coord(rng), coord(rng),
                      coord(rng));
        s += buf;
        if (colours) s += " 0.25 0.5 1 1";
        s += line_end(v, layout == Layout::blank_line ? vertices / 2 : vertices + 1);
    }
    for (std::size_t f = 0; f < faces; ++f) {
        const std::size_t corners = 3 + rng() % 7;
        s += std::to_string(corners);
        for (std::size_t c = 0; c < corners; ++c) s += " " + std::to_string(rng() % vertices);
        if (colours) s += " 255 128 0";
        s += line_end(f, layout == Layout::blank_line ? faces + 1 : faces / 2);
    }
    s += "\n# the end\n";
    if (!end_newline) s += "3 0 1 2";  // one face too many, on an unended line
    return s;
}

PolygonMesh parse_on_one_thread(const std::string& text) {
    return iotest::on_one_thread([&] { return parse_off(text, "big.off"); });
}

}  // namespace

TEST(OffParts, ThreadsGiveTheSameArraysAsOneThread) {
    for (const std::size_t vertices : {3, 40, 900, 3000})
        for (const bool colours : {false, true})
            for (const Layout layout : {Layout::lines, Layout::comment_line, Layout::blank_line,
                                        Layout::trailing_comment, Layout::two_faces_on_a_line}) {
                const std::string text = generated_off(vertices, colours, layout);
                const auto one_error = error_of([&] { return parse_on_one_thread(text); });
                if (layout == Layout::lines || layout == Layout::comment_line || layout == Layout::blank_line ||
                    layout == Layout::trailing_comment) {
                    ASSERT_FALSE(one_error) << *one_error;
                }
                for (const std::size_t part : {1, 7, 333, 1 << 20})
                    for (const unsigned threads : {1u, 2u, 3u, 4u}) {
                        SCOPED_TRACE(std::to_string(vertices) + " vertices, layout " +
                                     std::to_string(static_cast<int>(layout)) + ", part " + std::to_string(part) +
                                     ", threads " + std::to_string(threads));
                        bool in_parts = false;
                        if (one_error) {
                            EXPECT_EQ(error_of([&] {
                                          return detail::parse_off_in_parts(text, "big.off", threads, part, &in_parts);
                                      }),
                                      one_error);
                            continue;
                        }
                        expect_same_mesh(detail::parse_off_in_parts(text, "big.off", threads, part, &in_parts),
                                         parse_on_one_thread(text));
                        EXPECT_EQ(in_parts, layout == Layout::lines && threads > 1 && 3 * vertices > part);
                    }
            }
}

TEST(OffParts, FirstErrorIsTheSinglePassOne) {
    const std::size_t vertices = 300;
    const std::string good = generated_off(vertices, true);
    std::vector<std::size_t> starts;  // the start of every vertex and face line
    for (std::size_t i = good.find("# counts\n") + 9, n = 0; n < 3 * vertices; i = good.find('\n', i) + 1, ++n)
        starts.push_back(i);
    const std::string bad_lines[] = {"1 x 2\n",      "3 0 1 -2\n",        "3 0 1 300\n",
                                     "2 0 1\n",      "1 2 inf 0 0 0 1\n", "3 0 1 2 1 2 3 4 5\n",
                                     "1 2\n",        "3 0 1\n",           "1 2 3 1 2 3 4 5 6 7 8 9 10\n",
                                     "3 0 1 2 red\n"};
    std::size_t checked = 0;
    for (std::size_t at = 0; at < starts.size(); at += 23) {
        std::string text = good;
        auto spoil = [&](std::size_t line, const std::string& with) {
            text.replace(starts[line], good.find('\n', starts[line]) + 1 - starts[line], with);
        };
        if (at % 3 == 0 && at + 150 < starts.size()) spoil(at + 150, "3 0 1 -1\n");  // two faults: the earlier is told
        spoil(at, bad_lines[at % std::size(bad_lines)]);
        const auto one = error_of([&] { return parse_on_one_thread(text); });
        if (!one) continue;  // a face line where a vertex belongs, or the other way round, may still parse
        ++checked;
        for (const std::size_t part : {3, 64, 500})
            for (const unsigned threads : {2u, 4u})
                EXPECT_EQ(error_of([&] { return detail::parse_off_in_parts(text, "big.off", threads, part); }), one)
                    << "line " << at << ", part " << part << ", threads " << threads;
    }
    EXPECT_GT(checked, 30u);
    // Fewer lines than the counts say, cut in the faces and in the vertices, and one face too many.
    std::vector<std::string> texts;
    for (const std::size_t cut : {starts[starts.size() - 5], starts[starts.size() - 5] + 7, good.size() / 3})
        texts.push_back(good.substr(0, cut) + (cut % 2 ? "" : "\n"));
    texts.push_back(generated_off(vertices, false, Layout::lines, false));
    for (const std::string& text : texts) {
        const auto one = error_of([&] { return parse_on_one_thread(text); });
        ASSERT_TRUE(one);
        EXPECT_EQ(error_of([&] { return detail::parse_off_in_parts(text, "big.off", 2, 16); }), one);
    }
}
