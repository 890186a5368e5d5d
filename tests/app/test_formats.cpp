// Every format torvel reads, through the program: objects kept apart in check, -o and ImportMesh, the
// precision of each reader, and an importer that crashes, hangs or runs out of memory costing one file.
#include <assimp/scene.h>

#include "importer_test_util.h"
#include "mesh_io.h"
#include "run.h"

using nlohmann::json;

namespace apptest {
namespace {

// Under AddressSanitizer a child that runs out of memory first prints the sanitizer's own report
// ("==PID==ERROR: ... out of memory") to the stderr it shares with torvel; torvel's message follows.
std::string without_sanitizer_report(const std::string& err) {
#if defined(__SANITIZE_ADDRESS__)
    std::string out;
    for (const std::string& line : lines(err))
        if (line.rfind("==", 0) != 0) out += line + "\n";
    return out;
#else
    return err;
#endif
}

// Two quads (the second bent: one corner 0.5 out of the plane) and a pentagon bent the same way; then a
// quad with two lines and a point among its faces.
const imptest::TestMesh kPanels{
    "panels",
    {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0.5f}, {3, 0.5f, 0}, {2.5f, 2, 0}},
    {{0, 1, 2, 3}, {1, 4, 5, 2}, {4, 6, 7, 5, 2}}};
const imptest::TestMesh kMixed{
    "mixed", {{0, 0, 5}, {1, 0, 5}, {1, 1, 5}, {0, 1, 5}, {3, 3, 3}}, {{0, 1, 2, 3}, {0, 2}, {4}, {1, 3}}};

// The same polygons as OBJ objects, read by torvel's own reader.
const std::string kPanelsObj =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0.5\nv 3 0.5 0\nv 2.5 2 0\n"
    "v 0 0 5\nv 1 0 5\nv 1 1 5\nv 0 1 5\n"
    "o First\nf 1 2 3 4\nf 2 5 6 3\nf 5 7 8 6 3\no Second\nf 9 10 11 12\n";

// COLLADA written by hand: a plate of a quad, a bent quad and a pentagon, and a flat quad, each placed by
// a node whose name the object takes.
std::string hand_collada() {
    auto geometry = [](const std::string& id, const std::string& floats, int vertices, const std::string& vcount,
                       int polygons, const std::string& p) {
        return "<geometry id=\"" + id + "\"><mesh><source id=\"" + id + "-pos\"><float_array id=\"" + id +
               "-arr\" count=\"" + std::to_string(3 * vertices) + "\">" + floats +
               "</float_array><technique_common><accessor source=\"#" + id + "-arr\" count=\"" +
               std::to_string(vertices) +
               "\" stride=\"3\"><param name=\"X\" type=\"float\"/><param name=\"Y\" type=\"float\"/><param "
               "name=\"Z\" type=\"float\"/></accessor></technique_common></source><vertices id=\"" +
               id + "-vtx\"><input semantic=\"POSITION\" source=\"#" + id + "-pos\"/></vertices><polylist count=\"" +
               std::to_string(polygons) + "\"><input semantic=\"VERTEX\" source=\"#" + id +
               "-vtx\" offset=\"0\"/><vcount>" + vcount + "</vcount><p>" + p + "</p></polylist></mesh></geometry>";
    };
    return "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" "
           "version=\"1.4.1\"><library_geometries>" +
           geometry("plate", "0 0 0 1 0 0 1 1 0 0 1 0 2 0 0 2 1 0.5 3 0.5 0 2.5 2 0", 8, "4 4 5", 3,
                    "0 1 2 3 1 4 5 2 4 6 7 5 2") +
           geometry("lid", "0 0 5 1 0 5 1 1 5 0 1 5", 4, "4", 1, "0 1 2 3") +
           "</library_geometries><library_visual_scenes><visual_scene id=\"s\">"
           "<node id=\"n1\" name=\"First\"><instance_geometry url=\"#plate\"/></node>"
           "<node id=\"n2\" name=\"Second\"><instance_geometry url=\"#lid\"/></node>"
           "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/></scene></COLLADA>";
}

class Formats : public TempDirTest {
protected:
    json check_json(const std::vector<std::string>& args, int want_code, const RunOptions& options = {}) {
        std::vector<std::string> all = {"check", "--format", "json", "-t", "5"};
        all.insert(all.end(), args.begin(), args.end());
        const Result r = run(all, options);
        EXPECT_EQ(r.code, want_code) << r.err;
        return json::parse(r.out);
    }
    fs::path exported(const char* exporter, const std::string& name) {
        const auto scene = imptest::make_scene({kPanels, kMixed}, {{"First", {0}}, {"Second", {1}}});
        imptest::export_scene(*scene, exporter, dir / name);
        return dir / name;
    }
};

// The objects' verdicts as a comparable value: name, polygons, non-planar indices.
json objects_of(const json& file) { return file["objects"]; }

// The same polygons in OBJ (own reader), hand-written COLLADA and three of Assimp's exporters: the same
// objects, names, per-object and per-file indices; the precision names the reader.
TEST_F(Formats, ObjectsAreCheckedOneByOneWhateverTheFormat) {
    const fs::path obj = write("panels.obj", kPanelsObj);
    const json own = check_json({obj.string()}, 1)["files"][0];
    EXPECT_EQ(own["precision"], "double");
    EXPECT_EQ(own["polygons"], 4);
    ASSERT_EQ(own["objects"].size(), 2u);
    EXPECT_EQ(own["objects"][0]["name"], "First");
    EXPECT_EQ(own["objects"][1]["name"], "Second");
    EXPECT_EQ(own["objects"][0]["polygons"], 3);
    EXPECT_EQ(own["objects"][1]["non_planar"], json::array());
    // The bent quad and the pentagon are the filter's finds; the file's indices are the object's.
    const json bent = own["objects"][0]["non_planar"];
    ASSERT_FALSE(bent.empty());
    EXPECT_EQ(own["non_planar"], bent);

    std::vector<fs::path> files = {write("hand.dae", hand_collada()), exported("fbxa", "s.fbx"),
                                   exported("collada", "s.dae"), exported("x", "s.x")};
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.filename().string());
        const json r = check_json({f.string()}, 1)["files"][0];
        EXPECT_EQ(r["precision"], "single");
        EXPECT_EQ(r["polygons"], 4);
        EXPECT_EQ(r["non_planar"], own["non_planar"]);
        EXPECT_EQ(objects_of(r), objects_of(own));
    }

    // Objects listed in a different order move the file's indices with them.
    const fs::path swapped = write("swapped.obj", "v 0 0 5\nv 1 0 5\nv 1 1 5\nv 0 1 5\no Lid\nf 1 2 3 4\n" +
                                                      kPanelsObj.substr(0, kPanelsObj.find("o First")) +
                                                      "o Plate\nf 5 6 7 8\nf 6 9 10 7\nf 9 11 12 10 7\n");
    const json s = check_json({swapped.string()}, 1)["files"][0];
    EXPECT_EQ(s["objects"][1]["non_planar"], bent);
    json shifted = json::array();
    for (const json& i : bent) shifted.push_back(i.get<int>() + 1);
    EXPECT_EQ(s["non_planar"], shifted);

    // Text: the file's line, then a line per object.
    const Result text = run({"check", "-t", "5", files[0].string()});
    const std::vector<std::string> out = lines(text.out);
    ASSERT_EQ(out.size(), 3u) << text.out;
    EXPECT_TRUE(out[0].starts_with(files[0].string() + ": "));
    EXPECT_TRUE(out[1].starts_with("  First: " + std::to_string(bent.size()) + " of 3 polygons non-planar: "));
    EXPECT_EQ(out[2], "  Second: 0 of 1 polygons non-planar");
}

// X3D, X and AC3D written by hand, a mesh with lines and points, and the exporters whose formats
// hold triangles only: each file's objects and polygons, and the points and lines told in the log.
TEST_F(Formats, HandWrittenFormatsAndLinesAndPoints) {
    const fs::path x3d = write("plate.X3D", R"(<?xml version="1.0" encoding="UTF-8"?>
<X3D profile="Interchange" version="3.3"><Scene>
  <Transform DEF="Plate"><Shape><IndexedFaceSet coordIndex="0 1 2 3 -1 1 4 5 2 -1">
    <Coordinate point="0 0 0, 1 0 0, 1 1 0, 0 1 0, 2 0 0, 2 1 0.5"/></IndexedFaceSet></Shape></Transform>
</Scene></X3D>
)");
    const fs::path x = write("panel.x",
                             "xof 0302txt 0032\nFrame Panel {\n Mesh panel {\n  5;\n"
                             "  0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.25;, 0.0;1.0;0.0;, 2.0;0.5;0.0;;\n"
                             "  2;\n  4;0,1,2,3;,\n  3;1,4,2;;\n }\n}\n");
    const fs::path ac = write("plate.ac",
                              "AC3Db\nMATERIAL \"m\" rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.5 0.5 0.5  shi 10"
                              "  trans 0\nOBJECT world\nkids 1\nOBJECT poly\nname \"plate\"\nnumvert 5\n0 0 0\n1 0 0\n"
                              "1 1 0\n0 1 0\n2 0.5 0\nnumsurf 2\nSURF 0x0\nmat 0\nrefs 4\n0 0 0\n1 0 0\n2 0 0\n3 0 0\n"
                              "SURF 0x2\nmat 0\nrefs 3\n1 0 0\n4 0 0\n2 0 0\nkids 0\n");
    const fs::path lines_fbx = exported("fbxa", "lines.fbx");
    const fs::path gltf = exported("gltf2", "t.gltf"), tds = exported("3ds", "t.3ds");
    const fs::path log = dir / "log.jsonl";
    const json doc = check_json(
        {"--log", log.string(), x3d.string(), x.string(), ac.string(), lines_fbx.string(), gltf.string(), tds.string()},
        1);
    const json& files = doc["files"];
    ASSERT_EQ(files.size(), 6u) << doc;
    EXPECT_EQ(files[0]["objects"],
              json::parse(R"([{"name": "Plate", "source_name": "Plate", "polygons": 2, "non_planar": [1]}])"));
    EXPECT_EQ(files[1]["objects"][0]["name"], "Panel");
    EXPECT_EQ(files[1]["polygons"], 2);
    EXPECT_EQ(files[2]["objects"][0]["name"], "plate");
    EXPECT_EQ(files[2]["polygons"], 1);  // its second surface is an open line of 3 points
    EXPECT_EQ(files[3]["objects"][1],
              json::parse(R"({"name": "Second", "source_name": "Second", "polygons": 1, "non_planar": []})"));
    // glTF and 3DS hold triangles: the exporter split the quads and the pentagon.
    for (int i : {4, 5}) EXPECT_EQ(files[i]["polygons"], 9) << files[i];
    const std::vector<std::string> texts = log_texts(log);
    for (const std::string& said :
         {lines_fbx.string() + ": skipped 2 lines and 1 point", ac.string() + ": skipped 2 lines"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), said), texts.end()) << said;
}

// A file whose content is not what its extension says gets that format's error, named with the file;
// the other files are still checked.
TEST_F(Formats, LyingExtensionAndUnknownFormats) {
    const fs::path liar = write("liar.dae", kPanelsObj);
    const fs::path odd = write("notes.txt", "hello\n");
    const fs::path obj = write("panels.obj", kPanelsObj);
    const Result r = run({"check", liar.string(), odd.string(), obj.string()});
    EXPECT_EQ(r.code, 2);
    const std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 2u) << r.err;
    EXPECT_TRUE(err[0].starts_with("torvel: " + liar.string() + ": ")) << err[0];
    EXPECT_NE(err[0].find("XML"), std::string::npos) << err[0];  // COLLADA's reader, not OBJ's
    EXPECT_EQ(err[1], "torvel: " + odd.string() +
                          ": unknown mesh format \".txt\" (the formats torvel reads are listed by 'torvel check "
                          "--help')");
    EXPECT_NE(r.out.find(obj.string() + ": "), std::string::npos);

    const Result help = run({"check", "--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* part : {".obj .ply .off  torvel's own readers (double precision", " .dae",
                             "(Assimp, single precision)", " .fbx", " .x3d", "--import-timeout", "--import-memory"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
}

// The importer crashing, hanging past the time limit or needing more memory than allowed is an error for
// that file: in one process, with workers, and in a script.
TEST_F(Formats, AFailingImporterCostsOneFile) {
    const fs::path dae = write("hand.dae", hand_collada());
    const fs::path obj = write("panels.obj", kPanelsObj);
    struct Case {
        const char* fault;
        std::vector<std::string> options;
        std::string message;
    };
    const std::vector<Case> cases = {{"crash", {}, "the importer crashed (segmentation fault)"},
                                     {"hang", {"--import-timeout", "0.5"}, "the importer gave up after 0.5 s"},
                                     {"memory", {"--import-memory", "300"}, "the importer needed more than 300 MB"}};
    for (const Case& c : cases) {
        for (const char* jobs : {"1", "2"}) {
            SCOPED_TRACE(std::string(c.fault) + " -j " + jobs);
            RunOptions o;
            o.env["TORVEL_TEST_IMPORTER_FAULT"] = c.fault;
            std::vector<std::string> args = {"check", "-j", jobs};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.insert(args.end(), {dae.string(), obj.string()});
            const Result r = run(args, o);
            EXPECT_EQ(r.code, 2);
            EXPECT_EQ(without_sanitizer_report(r.err), "torvel: " + dae.string() + ": " + c.message + "\n");
            EXPECT_NE(r.out.find(obj.string() + ": "), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("summary: 1 file checked"), std::string::npos) << r.out;
        }
    }
    RunOptions crash;
    crash.env["TORVEL_TEST_IMPORTER_FAULT"] = "crash";
    const Result one = run({"check", dae.string()}, crash);
    EXPECT_EQ(one.code, 2);
    EXPECT_EQ(one.err, "torvel: " + dae.string() + ": the importer crashed (segmentation fault)\n");
    const Result s = run({"script", "-c", "ImportMesh \"" + dae.string() + "\""}, crash);
    EXPECT_EQ(s.code, 2);
    EXPECT_EQ(s.err, "torvel: -c:1: ImportMesh: " + dae.string() + ": the importer crashed (segmentation fault)\n");

    const Result bad = run({"check", "--import-timeout", "0", dae.string()});
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("--import-timeout: \"0\" is not a number of seconds"), std::string::npos) << bad.err;
}

// -o writes any input with its objects kept; checking the output gives the input's objects and verdicts.
TEST_F(Formats, OutputKeepsObjects) {
    const fs::path dae = write("hand.dae", hand_collada());
    const json in = check_json({dae.string()}, 1)["files"][0];
    for (const char* ext : {".obj", ".ply", ".off"}) {
        SCOPED_TRACE(ext);
        const fs::path out = dir / (std::string("out") + ext);
        const Result w = run({"check", "-t", "5", "-o", out.string(), dae.string()});
        EXPECT_EQ(w.code, 1) << w.err;
        const torvel::PolygonMesh back = torvel::io::read_mesh(out);
        EXPECT_EQ(back.polygon_count(), 4u);
        EXPECT_EQ(back.vertex_count(), 17u);  // Assimp's COLLADA reader gives each corner its own vertex
        if (std::string(ext) != ".obj") continue;
        const json again = check_json({out.string()}, 1)["files"][0];
        EXPECT_EQ(again["objects"], in["objects"]);
        EXPECT_EQ(again["non_planar"], in["non_planar"]);
        EXPECT_EQ(again["precision"], "double");
    }
    EXPECT_NE(read_file(dir / "out.ply").find("comment object 3 Second\n"), std::string::npos);
}

// ImportMesh takes every object: NAME for one, NAME_OBJECT for several; each is logged and selectable.
TEST_F(Formats, ImportMeshImportsEveryObject) {
    const fs::path dae = write("hand.dae", hand_collada());
    const fs::path obj = write("one.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\no Only\nf 1 2 3\n");
    const Result r = run({"script", "--plugin", kPlugin.string(), "-c", "LoadPlugin", "-c",
                          "ImportMesh \"" + dae.string() + "\", \"kit\"", "-c", "ImportMesh \"" + obj.string() + "\"",
                          "-c", "SetValue \"Vn_TorvelFilter_Prop.def\", 5", "-c", "SelectPolygons \"kit_First\"", "-c",
                          "ApplyFilter \"Vn_TorvelFilter\"", "-c", "PrintSelection"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    auto has = [&](const std::string& line) { return std::find(out.begin(), out.end(), line) != out.end(); };
    EXPECT_TRUE(has("imported " + dae.string() + " as Scene_Root.kit_First: 3 polygons, 13 vertices")) << r.out;
    EXPECT_TRUE(has("imported " + dae.string() + " as Scene_Root.kit_Second: 1 polygons, 4 vertices")) << r.out;
    EXPECT_TRUE(has("imported " + obj.string() + " as Scene_Root.one: 1 polygons, 3 vertices")) << r.out;
    bool printed = false;
    for (const std::string& line : out) printed = printed || line.starts_with("Scene_Root.kit_First: polygons ");
    EXPECT_TRUE(printed) << r.out;
}

// A worker's result whose objects disagree with its file's indices is refused like any malformed frame.
TEST_F(Formats, WorkersCarryObjectsAndRefuseInconsistentOnes) {
    const fs::path dae = write("hand.dae", hand_collada());
    const fs::path obj = write("panels.obj", kPanelsObj);
    const Result one = run({"check", "-j", "1", "--format", "json", "-t", "5", dae.string(), obj.string()});
    const Result two = run({"check", "-j", "2", "--format", "json", "-t", "5", dae.string(), obj.string()});
    EXPECT_EQ(two.code, 1);
    EXPECT_EQ(two.out, one.out);
    EXPECT_EQ(json::parse(two.out)["files"][0]["precision"], "single");

    RunOptions garbage;
    garbage.env["TORVEL_TEST_WORKER_GARBAGE_OBJECTS"] = "panels.obj";
    const Result g = run({"check", "-j", "2", dae.string(), obj.string()}, garbage);
    EXPECT_EQ(g.code, 2);
    EXPECT_EQ(g.err, "torvel: " + obj.string() + ": the check failed: its worker sent malformed data\n");
}

}  // namespace
}  // namespace apptest
