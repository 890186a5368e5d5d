// torvel check in a pipeline: folders, worker processes, errors in JSON and the log, the summary line,
// -q and -l.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "process_test_util.h"
#include "run.h"

extern char** environ;

using nlohmann::json;
using namespace std::chrono_literals;

namespace apptest {
namespace {

class Pipeline : public TempDirTest {
protected:
    // A run of every kind of entry: clean, bent, unreadable, missing, a folder of two meshes, a folder
    // without one.
    std::vector<std::string> mixed_run() {
        fs::create_directories(dir / "tree" / "inner");
        copy_example("mixed.ply", "tree/inner/b.ply");
        copy_example("flat_quads.obj", "tree/a.obj");
        fs::create_directories(dir / "nothing");
        write("nothing/readme.txt", "no meshes here\n");
        const fs::path bad = write("bad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 zero\nf 1 2 3\n");
        return {(kExamples / "mixed.obj").string(),
                bad.string(),
                (dir / "tree").string(),
                (dir / "missing.off").string(),
                (kExamples / "flat_quads.obj").string(),
                (dir / "nothing").string(),
                (kExamples / "twisted_quad.obj").string(),
                (kExamples / "l_hexagon.off").string()};
    }
};

std::vector<std::string> with(std::vector<std::string> front, const std::vector<std::string>& back) {
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

TEST_F(Pipeline, FoldersAreSearchedRecursivelyForMeshFilesInPathOrder) {
    fs::create_directories(dir / "d" / "a");
    copy_example("twisted_quad.obj", "d/b.obj");
    copy_example("mixed.ply", "d/a/Z.PLY");
    copy_example("l_hexagon.off", "d/a/c.off");
    write("d/notes.txt", "not a mesh\n");
    write("d/settings.xml", "<settings/>\n");  // Assimp reads .xml too, but a search passes over it
    write("d/shape.stl",
          "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
          "endloop\nendfacet\nendsolid x\n");
    fs::create_symlink(kExamples / "mixed.obj", dir / "d" / "linked.obj");  // a link to a file is taken
    fs::create_symlink(dir / "d", dir / "d" / "a" / "loop");                // a link to a folder is not
    fs::create_directories(dir / "empty" / "deeper");

    const std::string d = (dir / "d").string(), empty = (dir / "empty").string();
    Result r = run({"check", d, empty, (kExamples / "flat_quads.obj").string()});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                d + "/a/Z.PLY: 3 of 10 polygons non-planar at 45\u00b0: 5-7",
                                d + "/a/c.off: 0 of 1 polygons non-planar at 45\u00b0",
                                d + "/b.obj: 1 of 1 polygons non-planar at 45\u00b0: 0",
                                d + "/linked.obj: 3 of 10 polygons non-planar at 45\u00b0: 5-7",
                                d + "/shape.stl: 0 of 1 polygons non-planar at 45\u00b0",
                                (kExamples / "flat_quads.obj").string() + ": 0 of 7 polygons non-planar at 45\u00b0",
                                "summary: 6 files checked, 3 with non-planar polygons, 7 non-planar polygons in "
                                "all, 1 could not be checked",
                            }));
    EXPECT_EQ(r.err, "torvel: " + empty + ": no mesh file in this folder or below it\n");

    // -o takes one mesh file, also when it comes from a folder.
    Result o = run({"check", "-o", (dir / "out.ply").string(), d});
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find("exactly one input mesh"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(dir / "out.ply"));
}

// Whatever the number of workers, the run prints, logs and exits exactly as one process does.
TEST_F(Pipeline, WorkersGiveTheSameOutputLogAndExitCodeAsOneProcess) {
    const std::vector<std::string> meshes = mixed_run();
    for (const std::vector<std::string>& format :
         {std::vector<std::string>{}, std::vector<std::string>{"--format", "json"}, std::vector<std::string>{"-l"}}) {
        const fs::path one_log = dir / "one.jsonl";
        Result one = run(with(with({"check", "-j", "1", "--log", one_log.string()}, format), meshes));
        EXPECT_EQ(one.code, 2) << one.err;
        for (const char* jobs : {"2", "3", "8"}) {
            const fs::path log = dir / (std::string("j") + jobs + ".jsonl");
            Result many = run(with(with({"check", "-j", jobs, "--log", log.string()}, format), meshes));
            EXPECT_EQ(many.code, one.code) << "-j " << jobs;
            EXPECT_EQ(many.out, one.out) << "-j " << jobs;
            EXPECT_EQ(many.err, one.err) << "-j " << jobs;
            EXPECT_EQ(read_file(log), read_file(one_log)) << "-j " << jobs;
        }
    }
    // The default (one worker per core) too, and a run that is all clean exits 0 either way.
    Result one = run(with({"check", "-j", "1"}, meshes)), dflt = run(with({"check"}, meshes));
    EXPECT_EQ(dflt.out, one.out);
    const std::vector<std::string> flat(5, (kExamples / "flat_quads.obj").string());
    EXPECT_EQ(run(with({"check", "-j", "2"}, flat)).code, 0);

    for (const char* bad : {"0", "-1", "x", "1025", ""}) {
        Result r = run({"check", "-j", bad, meshes[0]});
        EXPECT_EQ(r.code, 2) << "-j " << bad;
        EXPECT_NE(r.err.find("-j/--jobs"), std::string::npos) << r.err;
    }
}

// A worker that dies on a file, or sends what is not a result, costs that file only: the file is an
// error naming what happened, a new worker takes over and the other files are reported as usual.
TEST_F(Pipeline, AWorkerThatCrashesOrSendsGarbageMakesItsFileAnErrorAndTheRunGoesOn) {
    // Four files of the same name, more than there are workers, so crashed workers must be replaced.
    std::vector<std::string> meshes;
    for (const char* sub : {"a", "b", "c", "d"}) {
        fs::create_directories(dir / sub);
        meshes.push_back(copy_example("mixed.obj", std::string(sub) + "/boom.obj").string());
        meshes.push_back(copy_example("twisted_quad.obj", std::string(sub) + "/fine.obj").string());
    }
    const fs::path log = dir / "run.jsonl";
    RunOptions crash;
    crash.env["TORVEL_TEST_WORKER_CRASH"] = "boom.obj";
    Result r = run(with({"check", "-j", "2", "--format", "json", "--log", log.string()}, meshes), crash);
    EXPECT_EQ(r.code, 2) << r.err;
    const json doc = json::parse(r.out);
    ASSERT_EQ(doc["files"].size(), 4u) << r.out;
    ASSERT_EQ(doc["errors"].size(), 4u) << r.out;
    std::string expected_err;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(doc["files"][i]["path"], meshes[2 * i + 1]);
        EXPECT_EQ(doc["files"][i]["non_planar"], json::array({0}));
        const std::string message = meshes[2 * i] + ": the check crashed (segmentation fault)";
        EXPECT_EQ(doc["errors"][i],
                  (json{{"path", meshes[2 * i]}, {"message", message}, {"code", "TV-E-WORKER-CRASH"}}));
        expected_err += "torvel: " + message + "\n";
    }
    EXPECT_EQ(r.err, expected_err);
    // The log names the crashed file and its error in its place.
    std::vector<std::string> texts = log_texts(log);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "checking " + meshes[0]);
    EXPECT_EQ(texts[1], meshes[0] + ": the check crashed (segmentation fault)");
    EXPECT_EQ(json::parse(lines(read_file(log))[1])["severity"], 2);

    RunOptions garbage;
    garbage.env["TORVEL_TEST_WORKER_GARBAGE"] = "boom.obj";
    Result g = run(with({"check", "-j", "2"}, meshes), garbage);
    EXPECT_EQ(g.code, 2);
    EXPECT_EQ(lines(g.err).size(), 4u) << g.err;
    EXPECT_NE(g.err.find("torvel: " + meshes[0] + ": the check failed: its worker sent malformed data\n"),
              std::string::npos)
        << g.err;
    EXPECT_EQ(lines(g.out).size(), 5u) << g.out;  // the four fine files and the summary
}

// SIGTERM to torvel alone, while its workers check and one of them waits for an importer that hangs:
// torvel dies of it, and neither a worker nor the importer's child outlives it.
TEST_F(Pipeline, TorvelTerminatedTakesItsWorkersAndTheirImportersAlong) {
    const fs::path dae = write("slow.dae", "<COLLADA/>\n");
    std::vector<std::string> args = {kTorvel.string(), "check", "-j", "2", dae.string()};
    for (const char* example : {"mixed.obj", "twisted_quad.obj", "flat_quads.obj", "l_hexagon.off"})
        args.push_back((kExamples / example).string());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = {"TORVEL_TEST_IMPORTER_FAULT=hang"};
    for (char** e = environ; *e; ++e)
        if (!std::string_view(*e).starts_with("TORVEL_")) env_text.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t torvel = 0;
    ASSERT_EQ(posix_spawn(&torvel, argv[0], &quiet, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&quiet);

    // Two workers and the importer's child below one of them.
    std::vector<pid_t> below;
    for (const auto until = std::chrono::steady_clock::now() + 20s;
         below.size() < 3 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(10ms))
        below = proctest::descendants(torvel);
    EXPECT_EQ(below.size(), 3u);
    ::kill(torvel, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(torvel, &status, 0), torvel);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    for (const pid_t pid : below) {
        EXPECT_TRUE(proctest::ends_within(pid, 1s)) << pid;
        ::kill(pid, SIGKILL);  // whatever the outcome, nothing left running
    }
}

// A plug-in that cannot be loaded stops the run in a worker as it does in one process.
TEST_F(Pipeline, APluginFailureStopsTheRunWithWorkersToo) {
    const fs::path fake = write("fake.so", "this is not a library\n");
    const std::vector<std::string> meshes(4, (kExamples / "mixed.obj").string());
    Result one = run(with({"check", "-j", "1", "--plugin", fake.string()}, meshes));
    Result two = run(with({"check", "-j", "2", "--plugin", fake.string()}, meshes));
    EXPECT_EQ(one.code, 2);
    EXPECT_EQ(two.code, 2);
    EXPECT_EQ(two.out, "");
    EXPECT_EQ(two.err, one.err);
    EXPECT_EQ(lines(two.err).size(), 1u) << two.err;
    EXPECT_NE(two.err.find(fake.string()), std::string::npos) << two.err;
}

// Each file that could not be checked is in "errors" with the message stderr shows, and in the log at
// error severity right after the line that starts its part.
TEST_F(Pipeline, ErrorsAreListedInJsonAndLoggedFileByFile) {
    const std::vector<std::string> meshes = mixed_run();
    const fs::path log = dir / "run.jsonl";
    Result r = run(with({"check", "--format", "json", "--log", log.string()}, meshes));
    EXPECT_EQ(r.code, 2);
    const json doc = json::parse(r.out);
    std::vector<std::string> paths;
    for (const json& f : doc["files"]) paths.push_back(f["path"]);
    const std::string tree = (dir / "tree").string();
    EXPECT_EQ(paths, (std::vector<std::string>{meshes[0], tree + "/a.obj", tree + "/inner/b.ply", meshes[4], meshes[6],
                                               meshes[7]}));
    ASSERT_EQ(doc["errors"].size(), 3u) << r.out;
    EXPECT_EQ(doc["errors"][0]["path"], meshes[1]);
    EXPECT_EQ(doc["errors"][0]["message"], meshes[1] + ":3: bad z coordinate 'zero'");
    EXPECT_EQ(doc["errors"][1]["path"], meshes[3]);
    EXPECT_EQ(doc["errors"][1]["message"], meshes[3] + ": cannot open: No such file or directory");
    EXPECT_EQ(doc["errors"][2]["path"], meshes[5]);
    std::string expected_err;
    for (const json& e : doc["errors"]) expected_err += "torvel: " + e["message"].get<std::string>() + "\n";
    EXPECT_EQ(r.err, expected_err);

    // A missing file alone: its log is its start and its error.
    Result missing = run({"check", "--log", log.string(), meshes[3]});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(read_file(log), "{\"severity\":16,\"text\":\"checking " + meshes[3] + "\"}\n{\"severity\":2,\"text\":\"" +
                                  meshes[3] + ": cannot open: No such file or directory\"}\n");
}

TEST_F(Pipeline, SummaryQuietAndListOnlyTheNonPlanarFiles) {
    const std::vector<std::string> meshes = mixed_run();
    Result text = run(with({"check"}, meshes));
    EXPECT_EQ(text.code, 2);
    EXPECT_EQ(lines(text.out).back(),
              "summary: 6 files checked, 3 with non-planar polygons, 7 non-planar polygons in all, 3 could not be "
              "checked");
    EXPECT_EQ(lines(text.out).size(), 7u);

    // -q: nothing on stdout, errors and the exit code as always; -l: the bent files' paths only.
    Result quiet = run(with({"check", "-q"}, meshes));
    EXPECT_EQ(quiet.code, 2);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, text.err);
    Result quiet_json = run({"check", "--quiet", "--format", "json", meshes[0]});
    EXPECT_EQ(quiet_json.code, 1);
    EXPECT_EQ(quiet_json.out, "");
    Result list = run(with({"check", "-l"}, meshes));
    EXPECT_EQ(list.code, 2);
    EXPECT_EQ(list.out, meshes[0] + "\n" + (dir / "tree" / "inner" / "b.ply").string() + "\n" + meshes[6] + "\n");
    EXPECT_EQ(list.err, text.err);
    Result none = run({"check", "--files-with-non-planar", meshes[4], meshes[7]});
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(run({"check", "-q", "-l", meshes[0]}).out, "");
    Result both = run({"check", "-l", "--format", "json", meshes[0]});
    EXPECT_EQ(both.code, 2);
    EXPECT_EQ(both.out, "");

    // One file prints no summary, singular counts read as such.
    EXPECT_EQ(lines(run({"check", meshes[6]}).out).size(), 1u);
    EXPECT_EQ(lines(run({"check", meshes[6], meshes[7]}).out).back(),
              "summary: 2 files checked, 1 with non-planar polygons, 1 non-planar polygon in all, 0 could not be "
              "checked");
}

}  // namespace
}  // namespace apptest
