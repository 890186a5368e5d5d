#include <assimp/scene.h>

#include <fstream>
#include <sstream>

#include "importer_test_util.h"

using namespace torvel::importer;
using namespace imptest;
namespace fs = std::filesystem;

namespace {

const std::string kObjText = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

}  // namespace

TEST(Errors, FilesThatNeverReachAssimp) {
    TempDir dir;
    expect_error([&] { import_file(dir.path() / "missing.fbx"); }, {"missing.fbx: cannot open: No such file"});
    fs::create_directory(dir.path() / "d.dae");
    expect_error([&] { import_file(dir.path() / "d.dae"); }, {"d.dae: is a directory"});
    expect_error([&] { import_file(dir.write("empty.fbx", "")); }, {"empty.fbx: the file is empty"});
    expect_error([&] { import_file(dir.write("m.obj", kObjText)); }, {"m.obj: no importer for \".obj\" files"});
    expect_error([&] { import_file(dir.write("noext", kObjText)); }, {"noext: no file extension"});
    EXPECT_THROW(import_file(dir.write("ok.dae", "x"), Limits{0, 100}), std::invalid_argument);
}

// The extension decides: OBJ text in a .dae gets COLLADA's complaint, and in a .xml (claimed by the
// Irrlicht readers and COLLADA, none of which recognises it) the first claimant's, never the OBJ
// reader's success that Assimp's own fallback would give.
TEST(Errors, ALyingExtensionGetsThatFormatsError) {
    TempDir dir;
    const fs::path dae = dir.write("lie.dae", kObjText);
    expect_error([&] { import_file(dae); }, {dae.string() + ": Unable to read file, malformed XML"});
    const fs::path xml = dir.write("lie.xml", kObjText);
    expect_error([&] { import_file(xml); }, {xml.string() + ": ", "IRRMESH"});
    const fs::path fbx = dir.write("lie.FBX", kObjText);
    expect_error([&] { import_file(fbx); }, {fbx.string() + ": FBX"});
}

// An index past the mesh's vertices, which Assimp's X3D reader passes on: an error naming the mesh.
TEST(Errors, AnIndexPastTheVerticesNamesTheMesh) {
    TempDir dir;
    const fs::path x3d = dir.write("bad.x3d", R"(<?xml version="1.0" encoding="UTF-8"?>
<X3D profile="Interchange" version="3.3"><Scene>
  <Transform DEF="Plate"><Shape>
    <IndexedFaceSet coordIndex="0 1 2 3 -1 1 4 9 2 -1">
      <Coordinate point="0 0 0, 1 0 0, 1 1 0, 0 1 0, 2 0 0, 2 1 0.5"/>
    </IndexedFaceSet>
  </Shape></Transform>
</Scene></X3D>
)");
    expect_error([&] { import_file(x3d); },
                 {x3d.string() + ": mesh 0 (\"Plate\"): face 1 uses vertex 9, but the mesh has 6 vertices"});
}

// Not every refusal is an error: Assimp's X3D reader takes text that is not X3D as an empty scene.
TEST(Errors, AnEmptySceneIsAResultWithAMessage) {
    TempDir dir;
    const fs::path file = dir.write("junk.x3d", "not a scene at all");
    const ImportResult r = import_file(file);
    EXPECT_TRUE(r.mesh.objects.empty());
    EXPECT_EQ(r.mesh.warnings, std::vector<std::string>{file.string() + ": the file holds no polygons"});
}
