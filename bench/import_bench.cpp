// What running Assimp in a child process costs: torvel::importer::import_file (fork, Assimp in the
// child, the result handed back and checked, ImportResult built) against Assimp's own in-process
// Importer::ReadFile of the same file, with no post-processing either way.
//
// The file: 10^6 quads (the benchmark grid, 10 % of them bent, no n-gons) written by Assimp's own
// COLLADA exporter, read from $TORVEL_BENCH_MESHES/grid_1000000.dae or made in a temporary directory.
//
// The two are taken in turns, the order swapped every iteration, so that both see the same machine
// (its speed drifts over seconds). Per variant: the fastest wall time, and the fastest CPU time
// (this thread's, plus the child's user + system time from RUSAGE_CHILDREN for the isolated one).
// At the end the ratios isolated / in-process are printed: of the fastest of each, and the median of
// the ratios within each turn.
#include <benchmark/benchmark.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "importer.h"
#include "meshgen.h"

namespace {

namespace fs = std::filesystem;
using namespace torvel;

double clock_seconds(clockid_t id) {
    timespec ts{};
    ::clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double children_cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_CHILDREN, &u);
    auto secs = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
    };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

struct Times {
    double wall = 0, cpu = 0;
};

// The grid as one Assimp mesh; aiScene's destructor frees what is allocated here.
std::unique_ptr<aiScene> grid_scene(const torvel::PolygonMesh& m) {
    auto scene = std::make_unique<aiScene>();
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial* [1] { new aiMaterial };
    auto* mesh = new aiMesh;
    mesh->mName = "grid";
    mesh->mMaterialIndex = 0;
    mesh->mPrimitiveTypes = aiPrimitiveType_POLYGON;
    mesh->mNumVertices = static_cast<unsigned>(m.vertex_count());
    mesh->mVertices = new aiVector3D[mesh->mNumVertices];
    for (unsigned v = 0; v < mesh->mNumVertices; ++v)
        mesh->mVertices[v] =
            aiVector3D(static_cast<float>(m.positions[3 * v]), static_cast<float>(m.positions[3 * v + 1]),
                       static_cast<float>(m.positions[3 * v + 2]));
    mesh->mNumFaces = static_cast<unsigned>(m.polygon_count());
    mesh->mFaces = new aiFace[mesh->mNumFaces];
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        aiFace& face = mesh->mFaces[f];
        face.mNumIndices = m.offsets[f + 1] - m.offsets[f];
        face.mIndices = new unsigned[face.mNumIndices];
        std::copy(m.indices.begin() + m.offsets[f], m.indices.begin() + m.offsets[f + 1], face.mIndices);
    }
    scene->mNumMeshes = 1;
    scene->mMeshes = new aiMesh* [1] { mesh };
    scene->mRootNode = new aiNode("grid");
    scene->mRootNode->mNumMeshes = 1;
    scene->mRootNode->mMeshes = new unsigned[1]{0};
    return scene;
}

fs::path g_made_dir;  // removed at the end when the benchmark made it

fs::path collada_file(std::int64_t quads) {
    fs::path dir;
    if (const char* env = std::getenv("TORVEL_BENCH_MESHES"); env && *env) {
        dir = env;
    } else {
        char tmpl[] = "/tmp/torvel_import_bench.XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary directory");
        dir = g_made_dir = tmpl;
    }
    const fs::path path = dir / ("grid_" + std::to_string(quads) + ".dae");
    if (!fs::exists(path)) {
        bench::GenOptions o;
        o.faces = static_cast<std::uint64_t>(quads);
        o.ngons = 0;
        const auto scene = grid_scene(bench::generate(o));
        Assimp::Exporter exporter;
        if (exporter.Export(scene.get(), "collada", path.string()) != AI_SUCCESS)
            throw std::runtime_error("COLLADA export failed: " + std::string(exporter.GetErrorString()));
        std::fprintf(stderr, "wrote %s (%.1f MB)\n", path.c_str(), static_cast<double>(fs::file_size(path)) / 1e6);
    }
    return path;
}

Times in_process(const fs::path& path, std::size_t& polygons) {
    Assimp::Importer assimp;
    const double w0 = clock_seconds(CLOCK_MONOTONIC), c0 = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
    const aiScene* scene = assimp.ReadFile(path.string(), 0);
    const Times t{clock_seconds(CLOCK_MONOTONIC) - w0, clock_seconds(CLOCK_THREAD_CPUTIME_ID) - c0};
    if (!scene) throw std::runtime_error(assimp.GetErrorString());
    polygons = scene->mNumMeshes ? scene->mMeshes[0]->mNumFaces : 0;
    return t;  // the scene is freed with the importer, untimed
}

Times isolated(const fs::path& path, std::size_t& polygons) {
    const double w0 = clock_seconds(CLOCK_MONOTONIC), c0 = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
    const double k0 = children_cpu_seconds();
    importer::ImportResult r = importer::import_file(path);
    const Times t{clock_seconds(CLOCK_MONOTONIC) - w0,
                  clock_seconds(CLOCK_THREAD_CPUTIME_ID) - c0 + children_cpu_seconds() - k0};
    polygons = r.mesh.objects.empty() ? 0 : r.mesh.object_end(0);
    benchmark::DoNotOptimize(r);
    return t;  // r is freed untimed
}

struct Best {
    Times in_process{1e300, 1e300}, isolated{1e300, 1e300};
    std::vector<double> turn_ratios_wall, turn_ratios_cpu;  // isolated / in-process within each turn
};
Best g_best;

void keep_fastest(Times& best, const Times& t) {
    best.wall = std::min(best.wall, t.wall);
    best.cpu = std::min(best.cpu, t.cpu);
}

void BM_IsolatedVsInProcess(benchmark::State& state) {
    const fs::path path = collada_file(state.range(0));
    bool isolated_first = false;
    for (auto _ : state) {
        std::size_t a = 0, b = 0;
        Times ti, tp;
        if (isolated_first) {
            ti = isolated(path, a);
            tp = in_process(path, b);
        } else {
            tp = in_process(path, b);
            ti = isolated(path, a);
        }
        isolated_first = !isolated_first;
        if (a != b || a != static_cast<std::size_t>(state.range(0))) {
            state.SkipWithError("the two imports disagree on the polygon count");
            return;
        }
        keep_fastest(g_best.isolated, ti);
        g_best.turn_ratios_wall.push_back(ti.wall / tp.wall);
        g_best.turn_ratios_cpu.push_back(ti.cpu / tp.cpu);
        keep_fastest(g_best.in_process, tp);
        state.SetIterationTime(ti.wall);
    }
    state.counters["isolated_wall_ms"] = g_best.isolated.wall * 1e3;
    state.counters["in_process_wall_ms"] = g_best.in_process.wall * 1e3;
    state.counters["isolated_cpu_ms"] = g_best.isolated.cpu * 1e3;
    state.counters["in_process_cpu_ms"] = g_best.in_process.cpu * 1e3;
    state.counters["ratio_wall"] = g_best.isolated.wall / g_best.in_process.wall;
    state.counters["ratio_cpu"] = g_best.isolated.cpu / g_best.in_process.cpu;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void print_ratio(const char* what, double isolated, double in_process, const std::vector<double>& turns) {
    const double r = isolated / in_process;
    std::printf("  %s: %.1f ms / %.1f ms = %.3fx (target <= 1.15x) %s; per turn, median %.3fx\n", what, isolated * 1e3,
                in_process * 1e3, r, r <= 1.15 ? "ok" : "MISSED", median(turns));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("IsolatedVsInProcess", BM_IsolatedVsInProcess)
        ->Arg(1000000)
        ->Iterations(10)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_made_dir.empty()) fs::remove_all(g_made_dir);
    if (!g_best.turn_ratios_wall.empty()) {
        std::printf("isolated / in-process import of a 10^6-quad COLLADA file, fastest of each over %zu turns:\n",
                    g_best.turn_ratios_wall.size());
        print_ratio("wall", g_best.isolated.wall, g_best.in_process.wall, g_best.turn_ratios_wall);
        print_ratio("cpu ", g_best.isolated.cpu, g_best.in_process.cpu, g_best.turn_ratios_cpu);
    }
    return 0;
}
