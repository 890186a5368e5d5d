// The edge table built on several threads against the single pass: the same edges, numbering and
// corner edges, element for element, and the same exception for a bad mesh.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

#include "objects.h"
#include "work_threads.h"

using torvel::host::Mesh;

namespace {

// Polygons of 3 to 9 corners over a pool of vertices, so that edges repeat in both directions, three or
// more polygons share some, a polygon may meet a vertex twice, and some vertices are used by nothing.
Mesh random_mesh(std::size_t polygons, std::uint32_t vertices, unsigned seed) {
    std::mt19937 rng(seed);
    Mesh m;
    m.positions.assign(3 * std::size_t{vertices}, 0.0);
    for (std::size_t p = 0; p < polygons; ++p) {
        const std::uint32_t n = 3 + static_cast<std::uint32_t>(rng() % 7);
        const std::uint32_t base = static_cast<std::uint32_t>(rng() % vertices);
        for (std::uint32_t c = 0; c < n; ++c)  // mostly near one another: edges meet again
            m.indices.push_back(rng() % 4 == 0 ? static_cast<std::uint32_t>(rng() % vertices)
                                               : (base + static_cast<std::uint32_t>(rng() % 6)) % vertices);
        m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
    }
    return m;
}

// A closed grid of quads on a torus: every edge shared by two polygons in opposite directions.
Mesh torus(std::uint32_t n) {
    Mesh m;
    m.positions.assign(3 * std::size_t{n} * n, 0.0);
    for (std::uint32_t i = 0; i < n; ++i)
        for (std::uint32_t j = 0; j < n; ++j) {
            const std::uint32_t i1 = (i + 1) % n, j1 = (j + 1) % n;
            m.indices.insert(m.indices.end(), {i * n + j, i * n + j1, i1 * n + j1, i1 * n + j});
            m.offsets.push_back(static_cast<std::uint32_t>(m.indices.size()));
        }
    return m;
}

Mesh single_pass(Mesh m) {
    torvel::set_work_threads(1);
    m.build_edges();
    torvel::set_work_threads(0);
    return m;
}

void expect_same_edges(const Mesh& in_parts, const Mesh& one_pass) {
    ASSERT_EQ(in_parts.edges.size(), one_pass.edges.size());
    ASSERT_EQ(in_parts.corner_edges.size(), one_pass.corner_edges.size());
    for (std::size_t i = 0; i < one_pass.edges.size(); ++i) ASSERT_EQ(in_parts.edges[i], one_pass.edges[i]) << i;
    for (std::size_t c = 0; c < one_pass.corner_edges.size(); ++c)
        ASSERT_EQ(in_parts.corner_edges[c], one_pass.corner_edges[c]) << c;
}

std::string error_of(Mesh m, bool in_parts) {
    try {
        if (in_parts)
            torvel::host::detail::build_edges_in_parts(m, 3, 5);
        else
            single_pass(std::move(m));
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(EdgeParts, SameTableAsOnePassForEveryPartSizeAndThreadCount) {
    const Mesh meshes[] = {random_mesh(1, 3, 1),
                           random_mesh(40, 12, 2),
                           random_mesh(500, 90, 3),
                           random_mesh(3000, 5000, 4),
                           torus(3),
                           torus(37)};
    for (const Mesh& mesh : meshes) {
        const Mesh expected = single_pass(mesh);
        for (unsigned threads : {1u, 2u, 3u, 8u})
            for (std::size_t part : {std::size_t{1}, std::size_t{7}, std::size_t{100}, std::size_t{1} << 20}) {
                SCOPED_TRACE(std::to_string(mesh.polygon_count()) + " polygons, " + std::to_string(threads) +
                             " threads, parts of " + std::to_string(part));
                Mesh m = mesh;
                torvel::host::detail::build_edges_in_parts(m, threads, part);
                expect_same_edges(m, expected);
            }
    }
}

TEST(EdgeParts, LargeMeshOnTheDefaultThreadsAsOnOne) {
    const Mesh mesh = random_mesh(200000, 150000, 7);  // above the size from which build_edges uses threads
    Mesh m = mesh;
    torvel::set_work_threads(4);
    m.build_edges();
    torvel::set_work_threads(0);
    expect_same_edges(m, single_pass(mesh));
}

TEST(EdgeParts, EmptyMeshHasNoEdges) {
    Mesh m;
    m.positions.assign(9, 0.0);  // vertices, no polygon
    torvel::host::detail::build_edges_in_parts(m, 2, 1);
    EXPECT_TRUE(m.edges.empty());
    EXPECT_TRUE(m.corner_edges.empty());
}

TEST(EdgeParts, SameFirstErrorAsOnePass) {
    Mesh base = random_mesh(300, 50, 9);
    Mesh bad_index = base, two_bad = base, short_polygon = base, uncovered = base;
    bad_index.indices[777] = 50;
    two_bad.indices[900] = 51;
    two_bad.indices[100] = 60;  // the earlier corner is told, whatever part finds it
    short_polygon.offsets.resize(161);
    short_polygon.indices.resize(short_polygon.offsets.back() + 2);  // polygon 160 has two corners
    short_polygon.offsets.push_back(static_cast<std::uint32_t>(short_polygon.indices.size()));
    short_polygon.indices[0] = 99;  // an index error before it still comes second
    uncovered.offsets.back() -= 1;
    for (const Mesh* m : {&bad_index, &two_bad, &short_polygon, &uncovered}) {
        const std::string expected = error_of(*m, false);
        EXPECT_NE(expected, "no error");
        EXPECT_EQ(error_of(*m, true), expected);
    }
    EXPECT_EQ(error_of(two_bad, true), "vertex index 60 out of range (50 vertices)");
    EXPECT_EQ(error_of(short_polygon, true), "polygon 160 has fewer than three vertices");
}
