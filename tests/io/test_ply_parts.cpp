// The PLY reader converting binary elements in parts on several threads against the single pass: the
// same arrays to the bit, the same error for a bad file. Small parts (detail::parse_ply_in_parts) put
// many part boundaries into small files.
#include "io_test_util.h"
#include "ply_parts.h"

#include <cmath>
#include <limits>
#include <optional>
#include <random>

using namespace torvel::io;
using iotest::Bytes;
using iotest::error_of;
using iotest::expect_same_mesh;

namespace {

struct Faces {
    std::vector<std::vector<std::int64_t>> lists;
};

// A binary PLY whose vertex element has properties around x y z (float or double) and whose face element
// has a scalar before the index list and a second list after it; n-gons of 3 to 12 corners. `faces_first`
// puts the face element before the vertex element.
std::string generated_ply(std::size_t vertices, const Faces& faces, bool big, bool doubles, bool faces_first = false,
                          std::optional<std::size_t> nan_vertex = std::nullopt) {
    std::mt19937 rng(static_cast<unsigned>(vertices + faces.lists.size()));
    std::uniform_real_distribution<double> coord(-1e3, 1e3);
    const std::string t = doubles ? "double" : "float";
    const std::string vertex_header = "element vertex " + std::to_string(vertices) + "\nproperty uchar red\nproperty " +
                                      t + " x\nproperty " + t + " y\nproperty short extra\nproperty " + t + " z\n";
    const std::string face_header = "element face " + std::to_string(faces.lists.size()) +
                                    "\nproperty int flags\nproperty list uchar int vertex_indices\n"
                                    "property list ushort float texcoord\n";
    Bytes b{"ply\nformat " + std::string(big ? "binary_big_endian" : "binary_little_endian") + " 1.0\n" +
                (faces_first ? face_header + vertex_header : vertex_header + face_header) +
                "element edge 1\nproperty int a\nproperty int b\nend_header\n",
            big};
    auto put_vertices = [&] {
        for (std::size_t v = 0; v < vertices; ++v) {
            double xyz[3] = {coord(rng), coord(rng), coord(rng)};
            if (nan_vertex == v) xyz[1] = std::numeric_limits<double>::quiet_NaN();
            b.put<std::uint8_t>(7);
            for (int a = 0; a < 3; ++a) {
                if (doubles)
                    b.put(xyz[a]);
                else
                    b.put(static_cast<float>(xyz[a]));
                if (a == 1) b.put<std::int16_t>(-3);
            }
        }
    };
    auto put_faces = [&] {
        for (const auto& list : faces.lists) {
            b.put<std::int32_t>(1);
            b.put(static_cast<std::uint8_t>(list.size()));
            for (const std::int64_t i : list) b.put(static_cast<std::int32_t>(i));
            const auto uv = static_cast<std::uint16_t>(list.size() % 3);
            b.put(uv);
            for (std::uint16_t i = 0; i < uv; ++i) b.put(0.5f);
        }
    };
    if (faces_first) {
        put_faces();
        put_vertices();
    } else {
        put_vertices();
        put_faces();
    }
    b.put<std::int32_t>(0).put<std::int32_t>(1);
    return b.s;
}

Faces random_faces(std::size_t count, std::size_t vertices, unsigned seed) {
    std::mt19937 rng(seed);
    Faces f;
    for (std::size_t i = 0; i < count; ++i) {
        auto& list = f.lists.emplace_back(3 + rng() % 10);
        for (auto& v : list) v = static_cast<std::int64_t>(rng() % vertices);
    }
    return f;
}

// The same elements as generated_ply in ASCII, one instance per line, with blanks, tabs and CRLF line
// ends here and there; `style` 1 splits an instance over two lines, 2 puts two instances on one line and 3
// leaves a blank line between two: layouts the parts give to the single pass.
std::string generated_ascii_ply(std::size_t vertices, const Faces& faces, int style = 0) {
    std::mt19937 rng(static_cast<unsigned>(3 * vertices + faces.lists.size()));
    std::uniform_real_distribution<double> coord(-1e3, 1e3);
    std::string s = "ply\nformat ascii 1.0\nelement vertex " + std::to_string(vertices) +
                    "\nproperty uchar red\nproperty double x\nproperty double y\nproperty short extra\n"
                    "property double z\nelement face " +
                    std::to_string(faces.lists.size()) +
                    "\nproperty int flags\nproperty list uchar int vertex_indices\n"
                    "property list ushort float texcoord\nend_header\n";
    char buf[160];
    auto line_end = [&](std::size_t n, std::size_t count) {
        if (style == 2 && n == count / 2) return std::string(" ");
        if (style == 3 && n == count / 2) return std::string("\n\n");
        return std::string(rng() % 5 == 0 ? " \t\r\n" : "\n");
    };
    for (std::size_t v = 0; v < vertices; ++v) {
        std::snprintf(buf, sizeof buf, rng() % 4 ? "7 %.17g %.17g -3 %.17g" : "  7\t%.17g  %.17g -3 %.17g", coord(rng),
                      coord(rng), coord(rng));
        s += buf + line_end(v, vertices);
    }
    for (std::size_t f = 0; f < faces.lists.size(); ++f) {
        const auto& list = faces.lists[f];
        s += "1 " + std::to_string(list.size());
        for (std::size_t c = 0; c < list.size(); ++c) {
            s += (style == 1 && f == faces.lists.size() / 3 && c == 1 ? "\n" : " ") + std::to_string(list[c]);
        }
        s += " " + std::to_string(list.size() % 3);
        for (std::size_t i = 0; i < list.size() % 3; ++i) s += " 0.5";
        s += line_end(f, faces.lists.size());
    }
    return s;
}

PolygonMesh parse_on_one_thread(const std::string& bytes) {
    return iotest::on_one_thread([&] { return parse_ply(bytes, "big.ply"); });
}

}  // namespace

TEST(PlyParts, ThreadsGiveTheSameArraysAsOneThread) {
    for (const std::size_t vertices : {3, 40, 900, 5000}) {
        const Faces faces = random_faces(vertices * 2, vertices, static_cast<unsigned>(vertices));
        for (const bool big : {false, true})
            for (const bool doubles : {false, true}) {
                const std::string bytes = generated_ply(vertices, faces, big, doubles);
                const PolygonMesh one = parse_on_one_thread(bytes);
                ASSERT_EQ(one.polygon_count(), faces.lists.size());
                for (const std::size_t part : {1, 7, 333, 1 << 20})
                    for (const unsigned threads : {2u, 3u}) {
                        SCOPED_TRACE(std::to_string(vertices) + " vertices, part " + std::to_string(part) +
                                     ", threads " + std::to_string(threads));
                        std::size_t in_parts = 0;
                        expect_same_mesh(detail::parse_ply_in_parts(bytes, "big.ply", threads, part, &in_parts), one);
                        EXPECT_EQ(in_parts, (vertices > part) + (faces.lists.size() > part));
                    }
            }
    }
    // Faces before the vertices: their indices are checked only at the end, by the single pass.
    const Faces faces = random_faces(300, 100, 5);
    const std::string bytes = generated_ply(100, faces, false, false, true);
    std::size_t in_parts = 0;
    expect_same_mesh(detail::parse_ply_in_parts(bytes, "big.ply", 2, 16, &in_parts), parse_on_one_thread(bytes));
    EXPECT_EQ(in_parts, 1u);  // the vertices only
}

TEST(PlyParts, FirstErrorIsTheSinglePassOne) {
    const std::size_t vertices = 400;
    const Faces good = random_faces(900, vertices, 11);
    std::vector<std::string> files;
    for (std::size_t at = 0; at < good.lists.size(); at += 97) {
        Faces bad = good;
        switch (at % 4) {
            case 0: bad.lists[at][1] = -5; break;
            case 1: bad.lists[at][2] = static_cast<std::int64_t>(vertices) + 3; break;
            case 2: bad.lists[at].resize(2); break;
            default:  // two faults: the earlier one is told
                bad.lists[at][0] = -1;
                bad.lists[at + 50].resize(1);
                break;
        }
        files.push_back(generated_ply(vertices, bad, at % 2 == 1, false));
    }
    files.push_back(generated_ply(vertices, good, false, true, false, 250));  // a coordinate that is NaN
    const std::string whole = generated_ply(vertices, good, false, false);
    for (const std::size_t cut : {whole.size() - 5, whole.size() - 3000, whole.size() / 2})
        files.push_back(whole.substr(0, cut));  // truncated in the faces and in the vertices
    for (const std::string& bytes : files) {
        const auto one = error_of([&] { return parse_on_one_thread(bytes); });
        ASSERT_TRUE(one);
        for (const std::size_t part : {3, 64, 500}) {
            EXPECT_EQ(error_of([&] { return detail::parse_ply_in_parts(bytes, "big.ply", 2, part); }), one)
                << "part " << part;
        }
    }
}

TEST(PlyParts, AsciiLinesInPartsGiveTheSameArraysAsOneThread) {
    for (const std::size_t vertices : {3, 40, 900, 3000}) {
        const Faces faces = random_faces(vertices * 2, vertices, static_cast<unsigned>(vertices));
        for (int style = 0; style < 4; ++style) {
            const std::string text = generated_ascii_ply(vertices, faces, style);
            const PolygonMesh one = parse_on_one_thread(text);
            ASSERT_EQ(one.polygon_count(), faces.lists.size());
            for (const std::size_t part : {1, 7, 333, 1 << 20})
                for (const unsigned threads : {2u, 3u}) {
                    SCOPED_TRACE(std::to_string(vertices) + " vertices, style " + std::to_string(style) + ", part " +
                                 std::to_string(part) + ", threads " + std::to_string(threads));
                    std::size_t in_parts = 0;
                    expect_same_mesh(detail::parse_ply_in_parts(text, "big.ply", threads, part, &in_parts), one);
                    // A style's misfit is in the faces, or between the vertices and the faces.
                    const std::size_t expected =
                        (vertices > part && style != 2 && style != 3) + (faces.lists.size() > part && style == 0);
                    if (style != 2 && style != 3) {
                        EXPECT_EQ(in_parts, expected);
                    }
                }
        }
    }
}

TEST(PlyParts, AsciiFirstErrorIsTheSinglePassOne) {
    const std::size_t vertices = 300;
    const std::string good = generated_ascii_ply(vertices, random_faces(700, vertices, 12));
    std::vector<std::size_t> starts;  // the start of every line of the body
    for (std::size_t i = good.find("end_header\n") + 11; i < good.size(); i = good.find('\n', i) + 1)
        starts.push_back(i);
    const std::string bad_lines[] = {"7 1 x -3 2\n", "1 3 0 1 -2 0\n", "1 3 0 1 999 0\n",
                                     "1 2 0 1 0\n",  "7 1 2 -3 inf\n", "1 3 0 1 2 0 junk\n"};
    std::size_t checked = 0;
    for (std::size_t at = 0; at < starts.size(); at += 41) {
        std::string text = good;
        text.replace(starts[at], good.find('\n', starts[at]) + 1 - starts[at], bad_lines[at % std::size(bad_lines)]);
        const auto one = error_of([&] { return parse_on_one_thread(text); });
        if (!one) continue;  // a face line where a vertex belongs, or the other way round, may still parse
        ++checked;
        for (const std::size_t part : {3, 64, 500})
            EXPECT_EQ(error_of([&] { return detail::parse_ply_in_parts(text, "big.ply", 2, part); }), one)
                << "line " << at << ", part " << part;
    }
    EXPECT_GT(checked, 10u);
    for (const std::size_t cut : {starts[starts.size() - 5], starts[starts.size() - 5] + 7, good.size() / 3}) {
        const std::string text = good.substr(0, cut) + (cut % 2 ? "" : "\n");
        const auto one = error_of([&] { return parse_on_one_thread(text); });
        ASSERT_TRUE(one);
        EXPECT_EQ(error_of([&] { return detail::parse_ply_in_parts(text, "big.ply", 2, 16); }), one);
    }
    const std::string trailing = good + "\n\n1 2 3\n";
    EXPECT_EQ(error_of([&] { return detail::parse_ply_in_parts(trailing, "big.ply", 2, 16); }),
              error_of([&] { return parse_on_one_thread(trailing); }));
}
