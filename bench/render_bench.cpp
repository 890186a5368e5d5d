// Picture of a 10^6-polygon mesh: the four views and the PNG encoding, as `torvel check --image` makes it.
//
// The mesh is built here, in memory: a grid of cells in the XY plane with in-plane jitter, a tenth of the
// cells with one corner lifted on a vertex of its own (given as reported, since that is how they were
// made), one in a thousand collapsed onto an edge (given as degenerate). Time is the measuring thread's
// CPU time, as in torvel_bench (the machine is shared); wall time is kept as a counter.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

namespace {

using torvel::render::PolygonState;

double thread_seconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Grid {
    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0}, indices;
    std::vector<PolygonState> states;
    std::size_t reported = 0, degenerate = 0;

    std::uint32_t add(double x, double y, double z) {
        positions.insert(positions.end(), {x, y, z});
        return static_cast<std::uint32_t>(positions.size() / 3 - 1);
    }
};

// splitmix64: the same grid on every run.
std::uint64_t next(std::uint64_t& s) {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}
double unit(std::uint64_t& s) { return static_cast<double>(next(s) >> 11) * 0x1.0p-53; }

Grid make_grid(std::uint32_t side) {
    Grid g;
    std::uint64_t seed = 1;
    const std::uint32_t row = side + 1;
    g.positions.reserve(std::size_t{row} * row * 3 + std::size_t{side} * side / 10 * 3 + 64);
    for (std::uint32_t y = 0; y <= side; ++y)
        for (std::uint32_t x = 0; x <= side; ++x) g.add(x + 0.3 * unit(seed) - 0.15, y + 0.3 * unit(seed) - 0.15, 0);
    g.offsets.reserve(std::size_t{side} * side + 1);
    g.indices.reserve(std::size_t{side} * side * 4);
    g.states.reserve(std::size_t{side} * side);
    for (std::uint32_t y = 0; y < side; ++y) {
        for (std::uint32_t x = 0; x < side; ++x) {
            const std::uint32_t v00 = y * row + x, v10 = v00 + 1, v11 = v10 + row, v01 = v00 + row;
            std::uint32_t corners[4] = {v00, v10, v11, v01};
            PolygonState state = PolygonState::planar;
            const double roll = unit(seed);
            if (roll < 0.1) {
                const double* p = &g.positions[std::size_t{v01} * 3];
                corners[3] = g.add(p[0], p[1], 0.25);
                state = PolygonState::reported;
                ++g.reported;
            } else if (roll < 0.101) {
                corners[2] = v10, corners[3] = v00;
                state = PolygonState::degenerate;
                ++g.degenerate;
            }
            g.indices.insert(g.indices.end(), corners, corners + 4);
            g.offsets.push_back(static_cast<std::uint32_t>(g.indices.size()));
            g.states.push_back(state);
        }
    }
    return g;
}

void BM_RenderGrid(benchmark::State& state) {
    const auto side = static_cast<std::uint32_t>(state.range(0));
    const Grid grid = make_grid(side);
    const torvel::render::Object objects[] = {{{grid.positions, grid.offsets, grid.indices}, grid.states}};
    const torvel::render::Picture picture{
        1024,
        1024,
        {"grid_" + std::to_string(std::size_t{side} * side) + ".obj",
         std::to_string(grid.reported) + " non-planar, " + std::to_string(grid.degenerate) + " degenerate"}};
    std::size_t bytes = 0;
    double best_wall = 1e9;
    for (auto _ : state) {
        const auto w0 = std::chrono::steady_clock::now();
        const double t0 = thread_seconds();
        const std::vector<unsigned char> png = torvel::render::render_png(objects, picture);
        const double t = thread_seconds() - t0;
        best_wall = std::min(best_wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
        state.SetIterationTime(t);
        bytes = png.size();
        benchmark::DoNotOptimize(png.data());
    }
    state.counters["polygons"] = static_cast<double>(grid.states.size());
    state.counters["png_KB"] = static_cast<double>(bytes) / 1024.0;
    state.counters["best_wall_ms"] = best_wall * 1e3;
}

}  // namespace

BENCHMARK(BM_RenderGrid)
    ->Arg(1000)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });

BENCHMARK_MAIN();
