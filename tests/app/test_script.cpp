// torvel script: the commands that reach every plug-in callback, and how failures are reported.
#include "mesh_io.h"
#include "run.h"

namespace apptest {
namespace {

class ScriptFiles : public TempDirTest {};

const std::string kLoad = "LoadPlugin \"" + kPlugin.string() + "\"";
const std::string kImportMixed = "ImportMesh \"" + (kExamples / "mixed.obj").string() + "\"";

Result script(std::vector<std::string> lines, std::vector<std::string> options = {}) {
    std::vector<std::string> args{"script"};
    args.insert(args.end(), options.begin(), options.end());
    for (std::string& l : lines) {
        args.push_back("-c");
        args.push_back(std::move(l));
    }
    return run(args);
}

bool has_line(const std::string& text, const std::string& line) {
    const auto all = lines(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

TEST(Script, ExampleScriptRunsEveryCommand) {
    Result r = run({"script", (kExamples / "example.tvs").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* line :
         {"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter", "Scene_Root.mixed: polygons 0-9", " select count:3",
          "Scene_Root.mixed: polygons 5-7", "Scene_Root.mixed: polygons 6-7", "Scene_Root.twisted: vertices 0, 2",
          "Scene_Root.mixed: whole object", "Vn_TorvelFilter_IsApplicable.",
          "OnInit called for Scene_Root.Vn_TorvelFilter_Prop",
          "Scene_Root.mixed: 3 polygons split into 7 pieces, 0 not repaired at 45\u00b0",
          "Reloading C++ Vn_TorvelFilter: Vn_TorvelFilter", "Unloading C++ Vn_TorvelFilter: Vn_TorvelFilter"})
        EXPECT_TRUE(has_line(r.out, line)) << "missing: " << line << "\n" << r.out;
}

TEST(ScriptSelection, ApplyFilterKeepsTheNonPlanarPolygonsOfTheSelectedOnes) {
    Result r = script({kLoad, kImportMixed, "SelectPolygons \"mixed\", \"0, 2-3,6\"", "PrintSelection",
                       "ApplyFilter \"Vn_TorvelFilter\"", "PrintSelection", "ClearSelection", "PrintSelection",
                       "SelectPolygons \"mixed\", \"0-4\"", "ApplyFilter \"Vn_TorvelFilter\"", "PrintSelection"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lines(r.out),
              (std::vector<std::string>{
                  "Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter",
                  "imported " + (kExamples / "mixed.obj").string() + " as Scene_Root.mixed: 10 polygons, 40 vertices",
                  "Scene_Root.mixed: polygons 0, 2-3, 6",
                  " select count:1",
                  "Scene_Root.mixed: polygons 6",
                  "selection is empty",
                  " select count:0",
                  "selection is empty",
                  "Terminating C++ Vn_TorvelFilter:Vn_TorvelFilter",
                  "C++ Torvel Filter Plug-in has been unloaded.",
              }));
}

TEST(ScriptSelection, ObjectsAreNamedAfterTheFileOrAsGivenAndMadeUnique) {
    const std::string twisted = (kExamples / "twisted_quad.obj").string();
    Result r = script({"ImportMesh \"" + twisted + "\"", "ImportMesh \"" + twisted + "\"",
                       "ImportMesh \"" + twisted + "\", \"tq\"", "SelectVertices \"twisted_quad1\"",
                       "SelectObject \"tq\"", "PrintSelection"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(has_line(r.out, "Scene_Root.twisted_quad1: vertices 0-3")) << r.out;
    EXPECT_TRUE(has_line(r.out, "Scene_Root.tq: whole object")) << r.out;
}

// The filter finds its settings property by name. A mesh imported under that name before the plug-in is
// loaded would hide it (no property made, every polygon reported): it is renamed with a warning, and one
// imported afterwards is numbered with a warning.
TEST(ScriptSelection, AMeshNamedAfterTheSettingsPropertyDoesNotHideIt) {
    const std::string mixed = (kExamples / "mixed.obj").string();
    Result r = script({"ImportMesh \"" + mixed + "\", \"Vn_TorvelFilter_Prop\"", kLoad,
                       "SelectPolygons \"Vn_TorvelFilter_Prop1\", \"0-9\"", "ApplyFilter \"Vn_TorvelFilter\"",
                       "PrintSelection", "ImportMesh \"" + mixed + "\", \"Vn_TorvelFilter_Prop\""});
    EXPECT_EQ(r.code, 0) << r.err;
    for (const std::string& line :
         {"\"Scene_Root.Vn_TorvelFilter_Prop\" is renamed \"Vn_TorvelFilter_Prop1\": the plug-in \"" +
              kPlugin.filename().string() + "\" registers a property of that name",
          std::string("Scene_Root.Vn_TorvelFilter_Prop1: polygons 5-7"),
          std::string("the mesh \"Vn_TorvelFilter_Prop\" is named \"Vn_TorvelFilter_Prop2\": a loaded plug-in "
                      "registers a property of that name"),
          "imported " + mixed + " as Scene_Root.Vn_TorvelFilter_Prop2: 10 polygons, 40 vertices"})
        EXPECT_TRUE(has_line(r.out, line)) << "missing: " << line << "\n" << r.out;
}

TEST(ScriptSelection, BadIndexListsNameTheTextAndTheObject) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"SelectPolygons \"mixed\", \"0,9-5\"", "range \"9-5\" runs backwards in \"0,9-5\""},
        {"SelectPolygons \"mixed\", \"3-10\"", "\"mixed\" has no polygon 10 (it has 10) in \"3-10\""},
        {"SelectVertices \"mixed\", \"40\"", "\"mixed\" has no vertex 40 (it has 40)"},
        {"SelectPolygons \"mixed\", \"1,,2\"", "empty entry in \"1,,2\""},
        {"SelectPolygons \"mixed\", \"x\"", "bad index \"x\" in \"x\""},
        {"SelectPolygons \"mixed\", \"-3\"", "negative index \"-3\" in \"-3\""},
        {"SelectPolygons \"mixed\", \"0, -1-4\"", "negative index \"-1\" in \"0, -1-4\""},
        {"SelectPolygons \"mixed\", \"2--1\"", "negative index \"-1\" in \"2--1\""},
        {"SelectPolygons \"mixed\", \"3- \"", "range \"3-\" has no end in \"3- \""},
        {"SelectPolygons \"mixed\", \"-\"", "bad index \"-\" in \"-\""},
        {"SelectPolygons \"mixed\", \"0-99999999999\"", "bad index \"99999999999\""},
        {"SelectPolygons \"mixed\", \"\"", "empty index list"},
        {"SelectPolygons \"nothing\"", "no polygon-mesh object \"nothing\""},
        {"SelectObject \"nothing\"", "no object \"nothing\""},
    };
    for (const auto& [line, message] : cases) {
        Result r = script({kImportMixed, line, "LogMessage \"not reached\""});
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_EQ(r.err.rfind("torvel: -c:2: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << line << ": " << r.err;
        EXPECT_FALSE(has_line(r.out, "not reached"));
    }
}

TEST(ScriptValues, SetValueAndGetValueGoThroughTheParameterAndItsRange) {
    Result r = script({kLoad, "GetValue \"Vn_TorvelFilter_Prop.def\"", "SetValue \"Vn_TorvelFilter_Prop.def\", 12.5",
                       "GetValue \"Scene_Root.Vn_TorvelFilter_Prop.def\"", kImportMixed, "SelectPolygons \"mixed\"",
                       "SetValue \"Vn_TorvelFilter_Prop.def\", 70", "ApplyFilter \"Vn_TorvelFilter\""});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[1], "45");
    EXPECT_EQ(out[2], "12.5");
    EXPECT_TRUE(has_line(r.out, " select count:2")) << r.out;  // the filter read the new tolerance

    const std::vector<std::pair<std::string, std::string>> errors = {
        {"SetValue \"Vn_TorvelFilter_Prop.def\", 120",
         "SetValue: 120 is outside the range of \"Vn_TorvelFilter_Prop.def\" (0 to 90)"},
        {"SetValue \"Vn_TorvelFilter_Prop.def\", -0.5",
         "SetValue: -0.5 is outside the range of \"Vn_TorvelFilter_Prop.def\" (0 to 90)"},
        {"SetValue \"Vn_TorvelFilter_Prop.def\", \"steep\"",
         "SetValue: \"Vn_TorvelFilter_Prop.def\" cannot take the value \"steep\""},
        {"SetValue \"Vn_TorvelFilter_Prop.nope\", 1", "SetValue: no parameter \"Vn_TorvelFilter_Prop.nope\""},
        {"GetValue \"Vn_TorvelFilter_Prop\"", "GetValue: no parameter \"Vn_TorvelFilter_Prop\""},
        {"SetValue \"Vn_TorvelFilter_Prop.def\"", "SetValue: expected 2 arguments, got 1"},
        {"SetValue \"Vn_TorvelFilter_Prop.def\", Truth",
         "SetValue: argument 2 must be a number, a string, True or False, not Truth"},
    };
    for (const auto& [line, message] : errors) {
        Result e = script({kLoad, line, "GetValue \"Vn_TorvelFilter_Prop.def\""});
        EXPECT_EQ(e.code, 2) << line;
        EXPECT_NE(e.err.find("-c:2: " + message), std::string::npos) << line << ": " << e.err;
        EXPECT_FALSE(has_line(e.out, "45")) << "the script went on after the failing line";
    }
}

// What the host refuses is told after the command's name, as the commands' own errors are.
TEST(ScriptMessages, HostRefusalsNameTheCommand) {
    Result prop = script({kLoad, "SIAddProp \"Vn_TorvelFilter_Prop\", \"Vn_TorvelFilter_Prop\""});
    EXPECT_EQ(prop.code, 2);
    EXPECT_NE(prop.err.find("torvel: -c:2: SIAddProp: \"Scene_Root.Vn_TorvelFilter_Prop\" cannot hold properties\n"),
              std::string::npos)
        << prop.err;
    Result import = script({"ImportMesh \"\""});
    EXPECT_EQ(import.err, "torvel: -c:1: ImportMesh: the file name is empty\n");
}

TEST(ScriptValues, TrueAndFalseAreWordsInAnyCase) {
    Result r = script({kLoad, "SetValue \"Vn_TorvelFilter_Prop.def\", TRUE", "GetValue \"Vn_TorvelFilter_Prop.def\"",
                       "SetValue \"Vn_TorvelFilter_Prop.def\", fAlSe", "GetValue \"Vn_TorvelFilter_Prop.def\""});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_GE(out.size(), 3u) << r.out;
    EXPECT_EQ(out[1], "1");
    EXPECT_EQ(out[2], "0");
}

TEST(ScriptCallbacks, MatchFilterAndInspectObjReachTheirCallbacks) {
    Result r = script({kLoad, kImportMixed, "SelectPolygons \"mixed\", \"1\"", "MatchFilter \"Vn_TorvelFilter\"",
                       "InspectObj \"Vn_TorvelFilter_Prop\"", "PrintSelection"});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_GE(out.size(), 7u) << r.out;
    EXPECT_EQ(out[2], "_Subset");
    EXPECT_EQ(out[3], "Vn_TorvelFilter_IsApplicable.");
    EXPECT_EQ(out[4], "Vn_TorvelFilter: Match returned false, Applicable returned false");
    EXPECT_EQ(out[5], "OnInit called for Scene_Root.Vn_TorvelFilter_Prop");
    EXPECT_EQ(out[6], "Scene_Root.mixed: polygons 1");  // Match does not change the selection

    EXPECT_NE(script({kLoad, "ApplyFilter \"Vn_TorvelFilter_Prop\""}).err.find("no filter \"Vn_TorvelFilter_Prop\""),
              std::string::npos);
    EXPECT_NE(script({kImportMixed, "InspectObj \"mixed\""}).err.find("no property \"mixed\""), std::string::npos);
    EXPECT_NE(script({"MatchFilter \"Vn_TorvelFilter\""}).err.find("no filter \"Vn_TorvelFilter\" is registered"),
              std::string::npos);
}

TEST(ScriptPlugins, LoadUnloadAndReloadRunTheLifecycleInOrder) {
    Result r = script({kLoad, "ReloadPlugin \"C++ Torvel Filter Plug-in\"", "UnloadPlugin \"" + kPlugin.string() + "\"",
                       "LogMessage \"unloaded\"", kLoad});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                "Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter",
                                "Reloading C++ Vn_TorvelFilter: Vn_TorvelFilter",
                                "C++ Torvel Filter Plug-in has been unloaded.",
                                "Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter",
                                "Unloading C++ Vn_TorvelFilter: Vn_TorvelFilter",
                                "C++ Torvel Filter Plug-in has been unloaded.",
                                "unloaded",
                                "Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter",
                                // the end of the script shuts the remaining plug-in down
                                "Terminating C++ Vn_TorvelFilter:Vn_TorvelFilter",
                                "C++ Torvel Filter Plug-in has been unloaded.",
                            }));

    Result twice = script({kLoad, kLoad});
    EXPECT_EQ(twice.code, 2);
    EXPECT_EQ(twice.err, "torvel: -c:2: LoadPlugin: " + kPlugin.string() + ": already loaded\n");
    Result unknown = script({"UnloadPlugin \"Other\""});
    EXPECT_NE(unknown.err.find("-c:1: UnloadPlugin: no loaded plug-in \"Other\""), std::string::npos) << unknown.err;
    Result missing = script({"LoadPlugin \"/nonexistent/p.so\""});
    EXPECT_NE(missing.err.find("-c:1: LoadPlugin: /nonexistent/p.so: no such file"), std::string::npos) << missing.err;
    Result empty = script({"LoadPlugin \"\""});
    EXPECT_EQ(
        empty.err,
        "torvel: -c:1: LoadPlugin: the plug-in path is empty (without an argument the default plug-in is loaded)\n");
}

TEST_F(ScriptFiles, ScriptFileFailuresNameTheFileAndLineAndStopThere) {
    fs::copy_file(kExamples / "twisted_quad.obj", dir / "quad.obj");
    const fs::path file =
        write("job.tvs", "' a comment\n\nImportMesh \"quad.obj\"\r\nBogus 1, 2\nLogMessage \"after\"\n");
    RunOptions elsewhere;
    elsewhere.cwd = fs::temp_directory_path();  // relative paths are the script's, not the working directory's
    Result r = run({"script", file.string()}, elsewhere);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "torvel: " + file.string() + ":4: unknown command \"Bogus\"\n");
    EXPECT_TRUE(
        has_line(r.out, "imported " + (dir / "quad.obj").string() + " as Scene_Root.quad: 1 polygons, 4 vertices"))
        << r.out;
    EXPECT_FALSE(has_line(r.out, "after"));

    const fs::path syntax = write("syntax.tvs", "LogMessage \"one\"\nLogMessage \"unterminated\n");
    EXPECT_NE(run({"script", syntax.string()}).err.find(syntax.string() + ":2: LogMessage: unterminated string"),
              std::string::npos);
    const fs::path bad_mesh = write("bad.obj", "v 0 0 0\nf 1 2 3\n");
    const fs::path mesh_script = write("mesh.tvs", "ImportMesh \"bad.obj\"\n");
    Result m = run({"script", mesh_script.string()});
    EXPECT_EQ(m.code, 2);
    EXPECT_NE(m.err.find(mesh_script.string() + ":1: ImportMesh: " + bad_mesh.string() + ":2: "), std::string::npos)
        << m.err;

    Result none = run({"script", (dir / "none.tvs").string()});
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find((dir / "none.tvs").string()), std::string::npos) << none.err;
    EXPECT_EQ(run({"script", dir.string()}).code, 2);
}

// Editors' byte-order marks: UTF-8's is read past, in a script and in the meshes it imports; a UTF-16
// script is named as such.
TEST_F(ScriptFiles, ScriptByteOrderMarks) {
    const std::string bom = "\xEF\xBB\xBF";
    write("quad.obj", bom + "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
    const fs::path file = write("job.tvs", bom + "ImportMesh \"quad.obj\"\n");
    Result r = run({"script", file.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "imported " + (dir / "quad.obj").string() + " as Scene_Root.quad: 1 polygons, 4 vertices\n");
    RunOptions piped;
    piped.input = bom + "LogMessage \"piped\"\n";
    EXPECT_EQ(run({"script", "-"}, piped).out, "piped\n");

    const fs::path wide = write("wide.tvs", std::string("\xFF\xFEL\0o\0", 6));
    Result w = run({"script", wide.string()});
    EXPECT_EQ(w.code, 2);
    EXPECT_EQ(w.err, "torvel: " + wide.string() + ": the file is UTF-16 (little-endian); save it as UTF-8 or ASCII\n");
}

TEST_F(ScriptFiles, ScriptSourcesAndWhereTheLogGoes) {
    RunOptions piped;
    piped.input = "LogMessage \"from stdin\"\nFoo\n";
    Result in = run({"script", "-"}, piped);
    EXPECT_EQ(in.code, 2);
    EXPECT_TRUE(has_line(in.out, "from stdin"));
    EXPECT_NE(in.err.find("<stdin>:2: unknown command \"Foo\""), std::string::npos) << in.err;

    EXPECT_EQ(run({"script"}).code, 2);
    EXPECT_EQ(run({"script", "x.tvs", "-c", "LogMessage \"a\""}).code, 2);

    // -v sends the messages to stderr instead of stdout; --log to the file only, exact and escaped.
    Result v = script({"LogMessage \"shown\""}, {"-v"});
    EXPECT_EQ(v.out, "");
    EXPECT_EQ(v.err, "shown\n");
    const fs::path log = dir / "log.jsonl";
    Result l = script({"LogMessage \"tab\there \u00e9 \"\"q\"\" \\\"", "LogMessage \"warn\", siWarningMsg", "Nope"},
                      {"--log", log.string()});
    EXPECT_EQ(l.code, 2);
    EXPECT_EQ(l.out, "");
    const std::vector<std::string> lines_written = lines(read_file(log));
    ASSERT_EQ(lines_written.size(), 3u);
    EXPECT_EQ(lines_written[0], "{\"severity\":8,\"text\":\"tab\\there \u00e9 \\\"q\\\" \\\\\"}");
    EXPECT_EQ(lines_written[1], "{\"severity\":4,\"text\":\"warn\"}");
    EXPECT_EQ(lines_written[2], "{\"severity\":2,\"text\":\"ERROR : line 3: unknown command \\\"Nope\\\"\"}");
}

// Import, filter, repair and export in a script give what torvel fix gives; the repair's tolerance is
// the command's only, the selection loses what pointed into the old polygons.
TEST_F(ScriptFiles, RepairMeshSplitsAsFixDoesAndExportMeshWritesTheObject) {
    copy_example("mixed.obj");
    write("crossing.obj", "v 0 0 0\nv 2 2 0\nv 2 0 1\nv 0 2 0\nf 1 2 3 4\n");
    const fs::path job = write("job.tvs", kLoad +
                                              "\nImportMesh \"mixed.obj\"\nImportMesh \"crossing.obj\"\n"
                                              "SelectPolygons \"mixed\", \"5-7\"\nSelectObject \"crossing\"\n"
                                              "RepairMesh \"mixed\", 30\nPrintSelection\n"
                                              "GetValue \"Vn_TorvelFilter_Prop.def\"\n"
                                              "SetValue \"Vn_TorvelFilter_Prop.def\", 30\nClearSelection\n"
                                              "SelectPolygons \"mixed\"\nApplyFilter \"Vn_TorvelFilter\"\n"
                                              "RepairMesh \"crossing\"\nExportMesh \"mixed\", \"fixed.ply\"\n");
    Result r = run({"script", job.string()});
    ASSERT_EQ(r.code, 0) << r.err << r.out;

    const fs::path via_fix = dir / "via_fix.ply";
    Result fix = run({"fix", "-t", "30", (dir / "mixed.obj").string(), "-o", via_fix.string()});
    ASSERT_EQ(fix.code, 0) << fix.err;
    const std::string summary = lines(fix.out)[0].substr((dir / "mixed.obj").string().size() + 2);
    EXPECT_TRUE(has_line(r.out, "Scene_Root.mixed: " + summary)) << r.out;
    EXPECT_TRUE(has_line(r.out, "Scene_Root.crossing: whole object")) << r.out;  // the mixed item is gone
    EXPECT_TRUE(has_line(r.out, "45")) << r.out;                                 // the property as it was
    EXPECT_TRUE(has_line(r.out, " select count:0")) << r.out;  // the filter reports none of the pieces
    EXPECT_TRUE(has_line(r.out, "Scene_Root.crossing: 0 polygons split into 0 pieces, 1 not repaired at 30\u00b0"))
        << r.out;
    EXPECT_NE(r.out.find("Scene_Root.crossing: polygon 0 not repaired: the outline crosses itself"), std::string::npos)
        << r.out;

    const torvel::PolygonMesh exported = torvel::io::read_mesh(dir / "fixed.ply"),
                              fixed = torvel::io::read_mesh(via_fix);
    EXPECT_EQ(exported.positions, fixed.positions);
    EXPECT_EQ(exported.offsets, fixed.offsets);
    EXPECT_EQ(exported.indices, fixed.indices);
    EXPECT_TRUE(has_line(r.out, "exported Scene_Root.mixed to " + (dir / "fixed.ply").string() + ": " +
                                    std::to_string(fixed.polygon_count()) + " polygons, 40 vertices"))
        << r.out;
}

TEST_F(ScriptFiles, RepairMeshAndExportMeshFailuresNameWhatIsAtFaultAndReplaceNothingRead) {
    // The script and the log named as meshes, for ExportMesh to be refused them by what they are.
    const fs::path mesh = copy_example("mixed.obj"), log = dir / "run.ply";
    const std::string original = read_file(mesh);
    auto failure = [&](const std::string& line, const std::string& message) {
        const fs::path job = write("job.off", kLoad + "\nImportMesh \"mixed.obj\"\n" + line + "\n");
        Result r = run({"script", "--log", log.string(), job.string()});
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_EQ(r.err, "torvel: " + job.string() + ":3: " + message + "\n") << line;
    };
    failure("RepairMesh \"nothing\"", "RepairMesh: no polygon-mesh object \"nothing\"");
    failure("RepairMesh \"mixed\", 95",
            "RepairMesh: Vn_TorvelFilter_Prop.def refused the tolerance 95 (its range is 0 to 90)");
    failure("ExportMesh \"mixed\", \"out.stl\"",
            "ExportMesh: " + (dir / "out.stl").string() +
                ": torvel cannot write '.stl' files (it writes .obj, .ply and .off)");
    failure("ExportMesh \"mixed\", \"mixed.obj\"",
            "ExportMesh: " + mesh.string() + ": refusing to overwrite the input " + mesh.string());
    failure("ExportMesh \"mixed\", \"job.off\"", "ExportMesh: " + (dir / "job.off").string() +
                                                     ": refusing to overwrite the script " +
                                                     (dir / "job.off").string());
    failure("ExportMesh \"mixed\", \"run.ply\"",
            "ExportMesh: " + log.string() + ": refusing to overwrite the log " + log.string());
    EXPECT_EQ(read_file(mesh), original);

    Result unloaded = script({kImportMixed, "RepairMesh \"mixed\""});
    EXPECT_EQ(unloaded.err,
              "torvel: -c:2: RepairMesh: no filter \"Vn_TorvelFilter\" is registered (load the plug-in first)\n");
}

TEST_F(ScriptFiles, ScriptLoadPluginWithoutAPathUsesTheDefaultPlugin) {
    RunOptions env;
    env.env["TORVEL_PLUGIN"] = kPlugin.string();
    Result r = run({"script", "-c", "LoadPlugin", "-c", "GetValue \"Vn_TorvelFilter_Prop.def\""}, env);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(has_line(r.out, "45")) << r.out;
    Result opt = run({"script", "--plugin", (dir / "x.so").string(), "-c", "LoadPlugin"});
    EXPECT_EQ(opt.code, 2);
    EXPECT_NE(opt.err.find((dir / "x.so").string() + ": no such file"), std::string::npos) << opt.err;
}

}  // namespace
}  // namespace apptest
