// torvel check: results, exit codes, tolerance, JSON, the log, bad input and where the plug-in comes from.
#include "run.h"

using nlohmann::json;

namespace apptest {
namespace {

class CheckFiles : public TempDirTest {};

const std::string kMixed = (kExamples / "mixed.obj").string();
const std::string kFlat = (kExamples / "flat_quads.obj").string();
const std::string kTwisted = (kExamples / "twisted_quad.obj").string();

// The four lines one file's check leaves in the host log, in order.
const std::vector<std::string> kOneFileLog = {
    "Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter",
    " select count:3",
    "Terminating C++ Vn_TorvelFilter:Vn_TorvelFilter",
    "C++ Torvel Filter Plug-in has been unloaded.",
};

TEST(CheckText, OneLinePerFileAndExitCodeSaysWhetherAnyIsNonPlanar) {
    Result flat = run({"check", kFlat});
    EXPECT_EQ(flat.code, 0) << flat.err;
    EXPECT_EQ(flat.out, kFlat + ": 0 of 7 polygons non-planar at 45\u00b0\n");
    EXPECT_EQ(flat.err, "");

    Result mixed = run({"check", kMixed});
    EXPECT_EQ(mixed.code, 1) << mixed.err;
    EXPECT_EQ(mixed.out, kMixed + ": 3 of 10 polygons non-planar at 45\u00b0: 5-7\n");

    // Every format, in the order given; one bent file is enough for exit 1.
    const std::string ply = (kExamples / "mixed.ply").string(), off = (kExamples / "l_hexagon.off").string();
    Result all = run({"check", kFlat, ply, off, kTwisted});
    EXPECT_EQ(all.code, 1) << all.err;
    EXPECT_EQ(lines(all.out), (std::vector<std::string>{
                                  kFlat + ": 0 of 7 polygons non-planar at 45\u00b0",
                                  ply + ": 3 of 10 polygons non-planar at 45\u00b0: 5-7",
                                  off + ": 0 of 1 polygons non-planar at 45\u00b0",
                                  kTwisted + ": 1 of 1 polygons non-planar at 45\u00b0: 0",
                                  "summary: 4 files checked, 2 with non-planar polygons, 4 non-planar polygons "
                                  "in all, 0 could not be checked",
                              }));
}

TEST(CheckTolerance, ReachesThePluginAndIsPrintedInShortestForm) {
    Result strict = run({"check", "-t", "70", kMixed});
    EXPECT_EQ(strict.code, 1);
    EXPECT_EQ(strict.out, kMixed + ": 2 of 10 polygons non-planar at 70\u00b0: 6-7\n");

    Result half = run({"check", "--tolerance", "12.5", kFlat});
    EXPECT_EQ(half.out, kFlat + ": 0 of 7 polygons non-planar at 12.5\u00b0\n");

    // Both ends of the range are accepted; at 0 every quad counts, which separates runs from singles.
    Result zero = run({"check", "-t", "0", kFlat});
    EXPECT_EQ(zero.code, 1) << zero.err;
    EXPECT_EQ(zero.out, kFlat + ": 7 of 7 polygons non-planar at 0\u00b0: 0-6\n");
    Result ninety = run({"check", "-t", "90", kMixed});
    EXPECT_NE(ninety.code, 2) << ninety.err;

    // -0 is 0, in the text and in JSON.
    EXPECT_EQ(run({"check", "-t", "-0", kFlat}).out, kFlat + ": 7 of 7 polygons non-planar at 0\u00b0: 0-6\n");
    const std::string doc = run({"check", "--format", "json", "-t", "-0.0", kFlat}).out;
    EXPECT_EQ(doc.rfind("{\"tolerance\":0.0,", 0), 0u) << doc;
}

TEST(CheckTolerance, OutsideTheRangeOrNotANumberIsAUsageError) {
    for (const std::string t : {"90.5", "-1", "1e9", "abc", "nan", "inf", ""}) {
        Result r = run({"check", "-t", t, kMixed});
        EXPECT_EQ(r.code, 2) << "-t " << t;
        EXPECT_EQ(r.out, "") << "-t " << t;
        EXPECT_NE(r.err.find("0 to 90"), std::string::npos) << "-t " << t << ": " << r.err;
    }
}

TEST(CheckJson, OneDocumentWithTheToleranceReadBackAndAscendingIndices) {
    const std::string ply = (kExamples / "mixed.ply").string();
    Result r = run({"check", "--format", "json", "-t", "45", kMixed, kFlat, ply});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err, "");
    const json doc = json::parse(r.out);  // throws on anything but exactly one document
    EXPECT_EQ(doc, json::parse(R"({"tolerance": 45, "files": [
        {"path": ")" + kMixed + R"(", "polygons": 10, "non_planar": [5, 6, 7],
         "objects": [{"name": "mixed", "source_name": null, "polygons": 10, "non_planar": [5, 6, 7]}],
         "precision": "double"},
        {"path": ")" + kFlat + R"(", "polygons": 7, "non_planar": [],
         "objects": [{"name": "flat_quads", "source_name": null, "polygons": 7, "non_planar": []}],
         "precision": "double"},
        {"path": ")" + ply + R"(", "polygons": 10, "non_planar": [5, 6, 7],
         "objects": [{"name": "mixed", "source_name": null, "polygons": 10, "non_planar": [5, 6, 7]}],
         "precision": "double"}],
        "errors": []})"));

    Result strict = run({"check", "--format=json", "-t", "12.25", kTwisted});
    EXPECT_EQ(json::parse(strict.out)["tolerance"], 12.25);

    Result clean = run({"check", "--format", "json", kFlat});
    EXPECT_EQ(clean.code, 0);
    EXPECT_EQ(json::parse(clean.out)["tolerance"], 45);

    EXPECT_EQ(run({"check", "--format", "xml", kFlat}).code, 2);
}

// A repeated object name is numbered past every name of the file, never becoming one of them; the scene's
// '.' rule holds and "source_name" keeps the file's own name (null where the file gives none); the
// settings property keeps its name. The same document with workers; ten thousand repeats stay distinct.
TEST_F(CheckFiles, ObjectNamesAreDistinctAndTheFilesOwnAreReported) {
    const fs::path f = write("parts.obj",
                             "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\no Cube\nf 1 2 3 4\no Cube\nf 1 2 3 4\n"
                             "o Cube1\nf 1 2 3 4\no Wing.003\nf 1 2 3 4\no Vn_TorvelFilter_Prop\nf 1 2 3 4\n");
    const json expected = json::parse(R"([
        {"name": "parts", "source_name": null, "polygons": 1, "non_planar": []},
        {"name": "Cube", "source_name": "Cube", "polygons": 1, "non_planar": []},
        {"name": "Cube2", "source_name": "Cube", "polygons": 1, "non_planar": []},
        {"name": "Cube1", "source_name": "Cube1", "polygons": 1, "non_planar": []},
        {"name": "Wing_003", "source_name": "Wing.003", "polygons": 1, "non_planar": []},
        {"name": "Vn_TorvelFilter_Prop1", "source_name": "Vn_TorvelFilter_Prop", "polygons": 1, "non_planar": []}])");
    for (const char* workers : {"1", "2"}) {
        const fs::path log = dir / (std::string("log") + workers + ".jsonl");
        Result r = run({"check", "--format", "json", "-j", workers, "--log", log.string(), f.string(), kFlat});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(json::parse(r.out)["files"][0]["objects"], expected) << "-j " << workers;
        const std::vector<std::string> texts = log_texts(log);
        EXPECT_NE(std::find(texts.begin(), texts.end(),
                            "the mesh \"Vn_TorvelFilter_Prop\" is named \"Vn_TorvelFilter_Prop1\": a loaded plug-in "
                            "registers a property of that name"),
                  texts.end())
            << "-j " << workers;
    }
    const std::vector<std::string> text = lines(run({"check", f.string()}).out);
    ASSERT_EQ(text.size(), 7u);
    EXPECT_EQ(text[3], "  Cube2: 0 of 1 polygons non-planar");
    EXPECT_EQ(text[4], "  Cube1: 0 of 1 polygons non-planar");

    std::string many = "v 0 0 0\nv 1 0 0\nv 1 1 0\n";
    for (int i = 0; i < 10000; ++i) many += "o Cube\nf 1 2 3\n";
    const json objects =
        json::parse(run({"check", "--format", "json", write("many.obj", many).string()}).out)["files"][0]["objects"];
    ASSERT_EQ(objects.size(), 10000u);
    EXPECT_EQ(objects[9999]["name"], "Cube9999");
    EXPECT_EQ(objects[9999]["source_name"], "Cube");
}

TEST_F(CheckFiles, CheckLogHoldsEveryHostMessageOfEveryFileAsJsonLines) {
    const fs::path log = dir / "run.jsonl";
    Result r = run({"check", "--log", log.string(), kMixed, kFlat});
    EXPECT_EQ(r.code, 1) << r.err;
    // Each file's part starts with a verbose line naming it; the plug-in's lines are info.
    std::vector<std::string> expected{"checking " + kMixed};
    expected.insert(expected.end(), kOneFileLog.begin(), kOneFileLog.end());
    expected.push_back("checking " + kFlat);
    std::vector<std::string> second = kOneFileLog;
    second[1] = " select count:0";
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(log_texts(log), expected);
    for (const std::string& line : lines(read_file(log))) {
        const json entry = json::parse(line);
        EXPECT_EQ(entry["severity"], entry["text"].get<std::string>().rfind("checking ", 0) == 0 ? 16 : 8) << line;
    }

    // -v shows the same messages on stderr as they are logged; stdout keeps only the result.
    Result v = run({"check", "-v", kMixed});
    std::vector<std::string> one{"verbose: checking " + kMixed};
    one.insert(one.end(), kOneFileLog.begin(), kOneFileLog.end());
    EXPECT_EQ(lines(v.err), one);
    EXPECT_EQ(v.out, kMixed + ": 3 of 10 polygons non-planar at 45\u00b0: 5-7\n");
}

TEST_F(CheckFiles, CheckBadInputIsNamedAndTheOtherFilesAreStillChecked) {
    const fs::path missing = dir / "missing.obj";
    const fs::path stl = write("shape.txt", "solid x\n");  // no format torvel reads
    const fs::path bad = write("bad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 zero\nf 1 2 3\n");
    const fs::path bad_face = write("face.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 7\n");
    const fs::path truncated = write("cut.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n");
    const fs::path directory = dir / "sub.obj";
    fs::create_directory(directory);

    Result r = run({"check", missing.string(), kTwisted, stl.string(), bad.string(), bad_face.string(),
                    truncated.string(), directory.string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, kTwisted +
                         ": 1 of 1 polygons non-planar at 45\u00b0: 0\nsummary: 1 file checked, 1 with "
                         "non-planar polygons, 1 non-planar polygon in all, 6 could not be checked\n");
    const std::vector<std::string> errors = lines(r.err);
    ASSERT_EQ(errors.size(), 6u) << r.err;
    EXPECT_EQ(errors[0].rfind("torvel: " + missing.string() + ": ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find("No such file"), std::string::npos) << errors[0];
    EXPECT_EQ(errors[1].rfind("torvel: " + stl.string() + ": ", 0), 0u) << errors[1];
    EXPECT_NE(errors[1].find(".txt"), std::string::npos) << errors[1];
    EXPECT_EQ(errors[2].rfind("torvel: " + bad.string() + ":3: ", 0), 0u) << errors[2];
    EXPECT_EQ(errors[3].rfind("torvel: " + bad_face.string() + ":4: ", 0), 0u) << errors[3];
    EXPECT_EQ(errors[4].rfind("torvel: " + truncated.string() + ":", 0), 0u) << errors[4];
    EXPECT_EQ(errors[5].rfind("torvel: " + directory.string() + ": ", 0), 0u) << errors[5];

    // In JSON the document still lists the files that could be checked.
    Result j = run({"check", "--format", "json", bad.string(), kTwisted});
    EXPECT_EQ(j.code, 2);
    EXPECT_EQ(json::parse(j.out)["files"].size(), 1u);

    const fs::path empty = write("empty.obj", "");
    Result e = run({"check", empty.string()});
    EXPECT_EQ(e.code, 2);
    EXPECT_NE(e.err.find(empty.string() + ": the file is empty"), std::string::npos) << e.err;
}

// A run whose every file failed still tells the tolerance: the one asked for, else the settings
// property's own default as the plug-in sets it, else (no plug-in to ask) null, never a number made up.
TEST_F(CheckFiles, ARunThatCheckedNoFileReportsThePluginsDefaultTolerance) {
    const std::string missing = (dir / "nope.obj").string();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", "--format", "json", missing},
          std::vector<std::string>{"fix", "--format", "json", "--dry-run", missing}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(json::parse(r.out)["tolerance"], 45) << args[0];
    }
    EXPECT_EQ(json::parse(run({"check", "--format", "json", "-t", "7.5", missing}).out)["tolerance"], 7.5);
    const fs::path not_a_plugin = write("not_a_plugin.so", "not a library");
    const Result r = run({"check", "--format", "json", "--plugin", not_a_plugin.string(), missing});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_TRUE(json::parse(r.out)["tolerance"].is_null()) << r.out;
}

TEST_F(CheckFiles, CheckNameThatIsNotUtf8StillGivesAValidJsonDocument) {
    const fs::path odd = dir / "bad\xff\xfename.obj";
    fs::copy_file(kMixed, odd);
    Result r = run({"check", "--format", "json", odd.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    const json doc = json::parse(r.out);  // throws on invalid UTF-8
    EXPECT_EQ(doc["files"][0]["polygons"], 10);
    EXPECT_NE(doc["files"][0]["path"].get<std::string>().find("bad\xef\xbf\xbd"), std::string::npos);
    Result text = run({"check", odd.string()});
    EXPECT_EQ(text.out.rfind(odd.string() + ": 3 of 10", 0), 0u) << text.out;  // the text report keeps the bytes
}

TEST(CheckUsage, MissingOrContradictoryArgumentsExitTwo) {
    Result none = run({});
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(none.err,
              "torvel: a subcommand is required: check, fix, script or plugin-info\nRun 'torvel --help' for usage.\n");
    Result bogus = run({"frobnicate", kFlat});
    EXPECT_EQ(bogus.code, 2);
    EXPECT_EQ(bogus.err.rfind("torvel: there is no subcommand 'frobnicate' (the subcommands are check, fix, script "
                              "and plugin-info)\nRun 'torvel --help' for usage.\n",
                              0),
              0u)
        << bogus.err;
    // A mistake inside a subcommand points to that subcommand's help, whoever finds it.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"check"},
                                                 {"check", "--no-such-option", kFlat},
                                                 {"check", "-t", "x", kFlat},
                                                 {"check", "--plugin", "", kFlat}}) {
        Result r = run(args);
        EXPECT_EQ(r.code, 2) << args.back();
        EXPECT_TRUE(r.err.ends_with("\nRun 'torvel check --help' for usage.\n")) << r.err;
    }
    Result script = run({"script"});
    EXPECT_EQ(script.err, "torvel: give a script FILE, - or -c LINE...\nRun 'torvel script --help' for usage.\n");
    Result info = run({"plugin-info", ""});
    EXPECT_EQ(info.err, "torvel: the plug-in PATH is empty\nRun 'torvel plugin-info --help' for usage.\n");

    // A format torvel cannot write is refused before any mesh is read (this one does not exist).
    for (const auto& [out, what] :
         {std::pair<std::string, std::string>{"a.stl", "'.stl' files"}, {"marked", "a file without an extension"}}) {
        Result r = run({"check", "-o", (fs::temp_directory_path() / out).string(), "/nonexistent/m.obj"});
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(out + ": torvel cannot write " + what + " (it writes .obj, .ply and .off)\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("m.obj"), std::string::npos) << r.err;
    }
    Result two = run({"check", "-o", "/tmp/never-written.ply", kFlat, kMixed});
    EXPECT_EQ(two.code, 2);
    EXPECT_NE(two.err.find("exactly one input mesh"), std::string::npos) << two.err;
    EXPECT_FALSE(fs::exists("/tmp/never-written.ply"));
    Result help = run({"check", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: torvel check [OPTIONS] MESH...\n"), std::string::npos) << help.out;
    for (const char* option : {"-t,--tolerance DEG ", "-o,--output FILE ", "--plugin PATH ", "--log FILE "})
        EXPECT_NE(help.out.find(option), std::string::npos) << option << " in\n" << help.out;
    Result script_help = run({"script", "--help"});
    EXPECT_NE(script_help.out.find("-c,--command LINE ..."), std::string::npos) << script_help.out;
    for (const Result& r : {help, script_help, run({"plugin-info", "--help"}), run({"--help"})})
        EXPECT_EQ(r.out.find("TEXT"), std::string::npos) << r.out;
}

TEST_F(CheckFiles, VersionNamesTheProgramAndThePlugin) {
    RunOptions env;
    env.env["TORVEL_PLUGIN"] = kPlugin.string();
    Result r = run({"--version"}, env);
    EXPECT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0].rfind("torvel 1.", 0), 0u) << out[0];
    EXPECT_EQ(out[1], "plug-in: C++ Torvel Filter Plug-in 1.0 (" + kPlugin.string() + ")");
    EXPECT_EQ(r.err, "");

    // No plug-in to be found: the program's version still, and the reason on stderr.
    fs::create_directories(dir / "bin");
    RunOptions alone;
    alone.exe = dir / "bin" / "torvel";
    fs::copy_file(kTorvel, alone.exe);
    Result missing = run({"--version"}, alone);
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.out, out[0] + "\n");
    EXPECT_EQ(missing.err.rfind("torvel: the plug-in could not be loaded: cannot find the plug-in", 0), 0u)
        << missing.err;
}

// Where a file belongs, a folder is called one, whatever its name.
TEST_F(CheckFiles, AFolderWhereAFileBelongsIsNamedAsOne) {
    const std::string folder = (dir / "models").string();
    fs::create_directory(folder);
    const std::string is_a_folder = folder + ": is a folder";
    // A mesh argument may be a folder: it is searched, and one with no mesh file is named.
    Result mesh = run({"check", folder});
    EXPECT_EQ(mesh.err, "torvel: " + folder + ": no mesh file in this folder or below it\n");
    Result import = run({"script", "-c", "ImportMesh \"" + folder + "\""});
    EXPECT_EQ(import.err, "torvel: -c:1: ImportMesh: " + is_a_folder + "\n");
    Result script = run({"script", folder});
    EXPECT_EQ(script.err, "torvel: " + is_a_folder + "\n");
    Result plugin = run({"check", "--plugin", folder, kFlat});
    EXPECT_EQ(plugin.err, "torvel: " + is_a_folder + "\n");
    Result log = run({"check", "--log", folder, kFlat});
    EXPECT_NE(log.err.find("--log " + is_a_folder + "\n"), std::string::npos) << log.err;
    for (const Result& r : {mesh, import, script, plugin, log}) EXPECT_EQ(r.code, 2);
}

// An exporter's free text in a PLY header is passed over; the log says where, as a warning, and -v shows
// each message's severity when it is not information.
TEST_F(CheckFiles, PlyHeaderFreeTextIsAWarningInTheLog) {
    const fs::path ply = write("made.ply",
                               "ply\nformat ascii 1.0\nCreated by Exporter 2.1\nelement vertex 3\nproperty float x\n"
                               "property float y\nproperty float z\nelement face 1\n"
                               "property list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    const std::string warning = ply.string() + ":3: header line with the unknown keyword 'Created' skipped";
    const fs::path log = dir / "log.jsonl";
    Result r = run({"check", "-v", "--log", log.string(), ply.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, ply.string() + ": 0 of 1 polygons non-planar at 45\u00b0\n");
    EXPECT_EQ(lines(r.err),
              (std::vector<std::string>{"verbose: checking " + ply.string(), kOneFileLog[0], "warning: " + warning,
                                        " select count:0", kOneFileLog[2], kOneFileLog[3]}));
    const std::vector<std::string> logged = lines(read_file(log));
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ(logged[2], "{\"severity\":4,\"text\":\"" + warning + "\"}");

    Result import = run({"script", "-c", "ImportMesh \"" + ply.string() + "\""});
    EXPECT_EQ(lines(import.out),
              (std::vector<std::string>{warning,
                                        "imported " + ply.string() + " as Scene_Root.made: 1 polygons, 3 vertices"}));

    Result severities =
        run({"script", "-v", "-c", "LogMessage \"f\", siFatalMsg", "-c", "LogMessage \"e\", siErrorMsg", "-c",
             "LogMessage \"i\"", "-c", "LogMessage \"v\", siVerboseMsg", "-c", "LogMessage \"c\", siCommentMsg"});
    EXPECT_EQ(severities.err, "fatal: f\nerror: e\ni\nverbose: v\ncomment: c\n");
}

TEST_F(CheckFiles, CheckFindsThePluginBesideItselfNeverInTheWorkingDirectory) {
    // A build-tree layout: bin/torvel with ../plugin/ and an installed layout: bin/torvel with ../lib/.
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "work");
    const fs::path exe = dir / "bin" / "torvel";
    fs::copy_file(kTorvel, exe);
    fs::copy_file(kPlugin, dir / "work" / "poly_torvel_filer.so");

    RunOptions in_work;
    in_work.exe = exe;
    in_work.cwd = dir / "work";
    Result none = run({"check", kFlat}, in_work);
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find("cannot find the plug-in"), std::string::npos) << none.err;
    EXPECT_EQ(none.err.find((dir / "work").string()), std::string::npos)
        << "looked in the working directory: " << none.err;

    for (const char* place : {"lib", "plugin"}) {
        fs::create_directories(dir / place);
        fs::copy_file(kPlugin, dir / place / "poly_torvel_filer.so");
        Result found = run({"check", kMixed}, in_work);
        EXPECT_EQ(found.code, 1) << place << ": " << found.err;
        fs::remove_all(dir / place);
    }

    // --plugin wins over TORVEL_PLUGIN, which wins over the default.
    RunOptions env = in_work;
    env.env["TORVEL_PLUGIN"] = kPlugin.string();
    EXPECT_EQ(run({"check", kMixed}, env).code, 1);
    env.env["TORVEL_PLUGIN"] = (dir / "nowhere.so").string();
    Result bad_env = run({"check", kMixed}, env);
    EXPECT_EQ(bad_env.code, 2);
    EXPECT_NE(bad_env.err.find((dir / "nowhere.so").string()), std::string::npos) << bad_env.err;
    EXPECT_EQ(run({"check", "--plugin", kPlugin.string(), kMixed}, env).code, 1);
}

TEST_F(CheckFiles, CheckReportsAPluginThatCannotBeLoaded) {
    const fs::path not_elf = write("fake.so", "this is not a library\n");
    Result r = run({"check", "--plugin", not_elf.string(), kMixed});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(not_elf.string()), std::string::npos) << r.err;
    Result missing = run({"check", "--plugin", (dir / "none.so").string(), kMixed});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("none.so: no such file"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace apptest
