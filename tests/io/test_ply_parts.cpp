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

MeshData parse_on_one_thread(const std::string& bytes) {
    return iotest::on_one_thread([&] { return parse_ply(bytes, "big.ply"); });
}

}  // namespace

TEST(PlyParts, ThreadsGiveTheSameArraysAsOneThread) {
    for (const std::size_t vertices : {3, 40, 900, 5000}) {
        const Faces faces = random_faces(vertices * 2, vertices, static_cast<unsigned>(vertices));
        for (const bool big : {false, true})
            for (const bool doubles : {false, true}) {
                const std::string bytes = generated_ply(vertices, faces, big, doubles);
                const MeshData one = parse_on_one_thread(bytes);
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
