// The child process: whatever happens in it ends as an ImportError naming the file, and leaves no
// process behind.
#include <assimp/scene.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "importer_test_util.h"

using namespace torvel::importer;
using namespace imptest;
namespace fs = std::filesystem;

namespace {

const char* const kFault = "TORVEL_TEST_IMPORTER_FAULT";

void expect_no_child_left() {
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

fs::path small_x(const TempDir& dir) {
    return dir.write("ok.x", "xof 0302txt 0032\nMesh m {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 1;\n 3;0,1,2;;\n}\n");
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(Isolation, ACrashIsAnErrorNamingTheSignal) {
    TempDir dir;
    const fs::path file = small_x(dir);
    {
        ScopedEnv env(kFault, "crash");
        expect_error([&] { import_file(file); }, {file.string() + ": the importer crashed (segmentation fault)"});
    }
    expect_no_child_left();
    EXPECT_EQ(import_file(file).mesh.objects.size(), 1u);  // the same file, without the fault
}

// A real one: Assimp 5.2's own binary format trusts a name's length from the file. The root node's
// name ("root", length 4) is given a length of 16 MB.
TEST(Isolation, AFileThatCrashesAssimp) {
    TempDir dir;
    const auto scene = make_scene({{"m", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}}}, {{"n", {0}}});
    const fs::path file = dir.path() / "crash.assbin";
    export_scene(*scene, "assbin", file);
    std::string bytes = slurp(file);
    const std::size_t at = bytes.find(std::string("\x04\0\0\0root", 8));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2] = '\xff';
    dir.write("crash.assbin", bytes);
    expect_error([&] { import_file(file); }, {file.string() + ": the importer crashed (segmentation fault)"});
    expect_no_child_left();
}

TEST(Isolation, AHangEndsAtTheTimeLimit) {
    TempDir dir;
    const fs::path file = small_x(dir);
    ScopedEnv env(kFault, "hang");
    const auto t0 = std::chrono::steady_clock::now();
    expect_error([&] { import_file(file, Limits{1, 256}); }, {file.string() + ": the importer gave up after 1 s"});
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 5.0);
    expect_error([&] { import_file(file, Limits{0.25, 256}); }, {"gave up after 0.25 s"});
    expect_no_child_left();
}

TEST(Isolation, RunawayMemoryIsStoppedAtTheLimit) {
    TempDir dir;
    const fs::path file = small_x(dir);
    {
        ScopedEnv env(kFault, "memory");
        expect_error(
            [&] {
                import_file(file, Limits{30, 256});
            },
            {file.string() + ": the importer needed more than 256 MB"});
    }
    // A real file: an X mesh that claims 10^9 vertices, which the X reader allocates before reading one.
    const fs::path big = dir.write("big.x", "xof 0302txt 0032\nMesh big {\n 1000000000;\n 0;0;0;;\n}\n");
    expect_error([&] { import_file(big, Limits{30, 512}); }, {big.string() + ": the importer needed more than 512 MB"});
    expect_no_child_left();
}

// The child copies the parent's unwritten stdio buffers with everything else; it must never write them.
TEST(Isolation, TheParentsBufferedOutputIsWrittenOnce) {
    TempDir dir;
    const fs::path out = dir.path() / "out.txt";
    FILE* f = std::fopen(out.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("written once", f);  // still in f's buffer while the child runs
    EXPECT_EQ(import_file(small_x(dir)).mesh.objects.size(), 1u);
    {
        ScopedEnv env(kFault, "crash");
        EXPECT_THROW(import_file(small_x(dir)), ImportError);
    }
    std::fclose(f);
    EXPECT_EQ(slurp(out), "written once");
}

// A signal every millisecond, its handler installed without SA_RESTART: every poll, read and wait in
// the parent is interrupted over and over, and the import still completes, or still stops on time.
TEST(Isolation, InterruptedCallsAreResumed) {
    TempDir dir;
    TestMesh grid{"grid", {}, {}};
    for (unsigned y = 0; y <= 100; ++y)
        for (unsigned x = 0; x <= 100; ++x) grid.vertices.push_back({float(x), float(y), float((x * y) % 3)});
    for (unsigned y = 0; y < 100; ++y)
        for (unsigned x = 0; x < 100; ++x)
            grid.faces.push_back({y * 101 + x, y * 101 + x + 1, (y + 1) * 101 + x + 1, (y + 1) * 101 + x});
    const fs::path file = dir.path() / "grid.dae";
    export_scene(*make_scene({grid}, {{"Grid", {0}}}), "collada", file);

    static volatile sig_atomic_t ticks = 0;
    struct sigaction on_tick {
    }, before{};
    on_tick.sa_handler = [](int) { ticks = ticks + 1; };
    ASSERT_EQ(::sigaction(SIGALRM, &on_tick, &before), 0);
    const itimerval every_ms{{0, 1000}, {0, 1000}}, off{};
    ::setitimer(ITIMER_REAL, &every_ms, nullptr);
    const ImportResult r = import_file(file);
    {
        ScopedEnv env(kFault, "hang");
        expect_error([&] { import_file(file, Limits{0.3, 256}); }, {"gave up after 0.3 s"});
    }
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &before, nullptr);
    EXPECT_GT(ticks, 10);
    ASSERT_EQ(r.mesh.objects.size(), 1u);
    EXPECT_EQ(polygons(object_mesh(r, 0)), polygons(grid));
    expect_no_child_left();
}
