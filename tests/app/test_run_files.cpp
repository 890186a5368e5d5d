// No output of a run replaces another file of the run: every pair of files of check, fix and script,
// made one file (the same name, or a link to it whose target is there or not yet), is refused with a
// message naming both, and nothing in the folder changes. Of two outputs the later one in the run's
// order is refused; a file the run reads is never the one refused.
#include <fstream>
#include <functional>
#include <map>

#include "run.h"

namespace apptest {
namespace {

using Args = std::vector<std::string>;

// One way a run names a file: its default file, and the arguments that make the run name a given path
// there. An output whose name is not free (-o's material file, a picture in a folder) is made another
// file by a link at its default name.
struct Slot {
    std::string label;
    std::string role;     // as a refusal names it
    std::string path;     // its default file in the run's folder
    bool output = false;  // written by the run
    bool free = false;    // the arguments can name any path
    std::function<Args(const std::string& path)> args;
    std::function<std::string(const std::string& path)> shown;  // how a refusal of this output starts
};

Slot read_slot(std::string label, std::string role, std::string path) {
    return {std::move(label),
            std::move(role),
            std::move(path),
            false,
            false,
            [](const std::string&) { return Args{}; },
            {}};
}

// An output named by OPTION PATH; its refusals start with "OPTION PATH" (--log, --html) or "PATH".
Slot option_slot(std::string label, std::string role, const std::string& option, std::string path, bool free,
                 bool option_in_message) {
    return {std::move(label),
            std::move(role),
            std::move(path),
            true,
            free,
            [option](const std::string& p) {
                return Args{option, p};
            },
            [option, option_in_message](const std::string& p) { return option_in_message ? option + " " + p : p; }};
}

// The material file of the OBJ output `mesh`, written by OPTION MESH.
Slot material_slot(const std::string& option, const std::string& mesh, std::string role) {
    const std::string mtl = fs::path(mesh).replace_extension(".mtl").string();
    return {"the material file",
            std::move(role),
            mtl,
            true,
            false,
            [option, mesh](const std::string&) {
                return Args{option, mesh};
            },
            [mesh, mtl](const std::string&) { return mesh + " (material file " + mtl + ")"; }};
}

// The folder's entries, recursively: each file's bytes (as a hash), each link's target.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().lexically_relative(dir).string();
        if (e.is_symlink())
            out[name] = "link to " + fs::read_symlink(e.path()).string();
        else if (e.is_regular_file())
            out[name] = std::to_string(std::hash<std::string>{}(read_file(e.path())));  // the plug-in is large
        else
            out[name] = "folder";
    }
    return out;
}

struct Pair {
    const Slot& earlier;
    const Slot& later;
    std::string later_name;  // the path the later slot's arguments give
    Args args;               // both slots' arguments
    fs::path dir;            // the run's folder, its working directory
};

class RunFileClashes : public TempDirTest {
protected:
    // Each pair of `slots` (in the run's order), the later one an output made the earlier one's file, in a
    // folder of its own that `prepare` fills: once with the earlier file there, once (for an output)
    // before it exists. `run_pair` runs the subcommand in that folder; its stderr must be the refusal
    // `refusal(pair)` and its exit code 2, and the folder must be as it was, but for the earlier file
    // when `written(pair)` says the run still writes it (a script's log).
    void expect_every_pair_refused(const std::vector<Slot>& slots, const std::function<void(const Pair&)>& prepare,
                                   const std::function<Result(const Pair&)>& run_pair,
                                   const std::function<std::string(const Pair&)>& refusal,
                                   const std::function<bool(const Pair&)>& written = {}) {
        for (std::size_t l = 0; l < slots.size(); ++l) {
            if (!slots[l].output) continue;
            for (std::size_t e = 0; e < l; ++e) {
                for (const bool there : {true, false}) {
                    const Slot &earlier = slots[e], &later = slots[l];
                    if (!there && !earlier.output) continue;
                    SCOPED_TRACE(later.label + " onto " + earlier.label + (there ? "" : " (not yet there)"));
                    Pair pair{earlier, later, later.free ? earlier.path : later.path, earlier.args(earlier.path),
                              dir / ("case" + std::to_string(cases_++))};
                    const Args own = later.args(pair.later_name);
                    if (own != pair.args) pair.args.insert(pair.args.end(), own.begin(), own.end());
                    fs::create_directory(pair.dir);
                    prepare(pair);
                    if (there && earlier.output) std::ofstream(pair.dir / earlier.path) << "before\n";
                    if (!later.free) fs::create_symlink(pair.dir / earlier.path, pair.dir / later.path);

                    auto before = snapshot(pair.dir);
                    const Result r = run_pair(pair);
                    EXPECT_EQ(r.code, 2) << r.err;
                    EXPECT_EQ(r.err, "torvel: " + refusal(pair) + "\n");
                    auto after = snapshot(pair.dir);
                    if (written && written(pair)) {
                        const std::string log = read_file(pair.dir / earlier.path);
                        EXPECT_TRUE(log.starts_with("{\"severity\"")) << log;
                        before.erase(earlier.path);
                        after.erase(earlier.path);
                    }
                    EXPECT_EQ(after, before);
                }
            }
        }
    }

    int cases_ = 0;

    static std::string refused(const Pair& p) {
        return p.later.shown(p.later_name) + ": refusing to overwrite " + p.earlier.role + " " + p.earlier.path;
    }

    // The mesh m.obj and a copy of the plug-in, p.so.
    static void mesh_and_plugin(const Pair& p) {
        fs::copy_file(kExamples / "mixed.obj", p.dir / "m.obj");
        fs::copy_file(kPlugin, p.dir / "p.so");
    }
    static RunOptions in(const fs::path& d) {
        RunOptions o;
        o.cwd = d;
        return o;
    }
};

// Every output of check against every file before it: nothing is checked, nothing written. Among them
// --image X --html X, which once wrote the picture and then the report over it.
TEST_F(RunFileClashes, CheckRefusesEveryPairBeforeAnythingIsWritten) {
    for (const bool image_folder : {false, true}) {
        std::vector<Slot> slots = {read_slot("the input", "the input", "m.obj"),
                                   read_slot("the plug-in", "the plug-in library", "p.so"),
                                   option_slot("-o", "the output", "-o", "out.obj", false, false),
                                   material_slot("-o", "out.obj", "the output")};
        if (image_folder) {
            Slot folder = option_slot("a picture in a folder", "a picture", "--image", "pics/m.obj.png", false, false);
            folder.args = [](const std::string&) { return Args{"--image", "pics"}; };
            slots.push_back(folder);
        } else {
            slots.push_back(option_slot("--image", "a picture", "--image", "pic.png", false, false));
        }
        slots.push_back(option_slot("--html", "the report", "--html", "report.html", true, true));
        slots.push_back(option_slot("--log", "the log", "--log", "run.jsonl", true, true));
        expect_every_pair_refused(
            slots,
            [](const Pair& p) {
                mesh_and_plugin(p);
                fs::create_directory(p.dir / "pics");
            },
            [](const Pair& p) {
                Args args = {"check", "--plugin", "p.so"};
                args.insert(args.end(), p.args.begin(), p.args.end());
                args.push_back("m.obj");
                const Result r = run(args, in(p.dir));
                EXPECT_EQ(r.out, "");
                return r;
            },
            refused);
    }
}

TEST_F(RunFileClashes, FixRefusesEveryPairBeforeAnythingIsWritten) {
    const std::vector<Slot> slots = {
        read_slot("the input", "the input", "m.obj"), read_slot("the plug-in", "the plug-in library", "p.so"),
        option_slot("-o", "the output", "-o", "out.obj", false, false), material_slot("-o", "out.obj", "the output"),
        option_slot("--log", "the log", "--log", "run.jsonl", true, true)};
    expect_every_pair_refused(
        slots, mesh_and_plugin,
        [](const Pair& p) {
            Args args = {"fix", "--plugin", "p.so", "m.obj"};
            args.insert(args.end(), p.args.begin(), p.args.end());
            if (std::find(args.begin(), args.end(), "-o") == args.end()) args.insert(args.end(), {"-o", "fixed.ply"});
            const Result r = run(args, in(p.dir));
            EXPECT_EQ(r.out, "");
            return r;
        },
        refused);
}

// A script's files: the script, what it imports and loads, the log, and what it exports. The log is
// refused before the script runs when it is the script, and at the end when it is a file the script
// read; an export is refused when it runs (line 3), and the log of the run is still written.
TEST_F(RunFileClashes, ScriptRefusesEveryPairAndStopsAtTheExport) {
    Slot exported = option_slot("ExportMesh", "an exported file", "", "out.obj", false, false);
    exported.args = [](const std::string& p) { return Args{"ExportMesh \"m\", \"" + p + "\""}; };
    Slot mtl = material_slot("", "out.obj", "an exported file");
    mtl.args = [](const std::string&) { return Args{"ExportMesh \"m\", \"out.obj\""}; };
    const std::vector<Slot> slots = {read_slot("the script", "the script", "job.tvs"),
                                     read_slot("an imported mesh", "the input", "m.obj"),
                                     read_slot("a loaded plug-in", "the plug-in library", "p.so"),
                                     option_slot("--log", "the log", "--log", "run.jsonl", true, true),
                                     exported,
                                     mtl};
    expect_every_pair_refused(
        slots,
        [](const Pair& p) {
            mesh_and_plugin(p);
            std::string script = "LoadPlugin \"p.so\"\nImportMesh \"m.obj\"\n";
            for (const std::string& a : p.args)
                if (a.starts_with("ExportMesh")) script += a + "\n";
            std::ofstream(p.dir / "job.tvs") << script;
        },
        [](const Pair& p) {
            Args args = {"script"};
            for (const std::string& a : p.args)
                if (!a.starts_with("ExportMesh")) args.push_back(a);
            args.push_back("job.tvs");
            return run(args, in(p.dir));
        },
        [](const Pair& p) { return (p.later.role == "the log" ? "" : "job.tvs:3: ExportMesh: ") + refused(p); },
        [](const Pair& p) { return p.earlier.role == "the log"; });
}

}  // namespace
}  // namespace apptest
