// Mesh files as torvel reads them: the one choice of a reader by extension, and a file's objects as the
// scene's meshes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "errors.h"
#include "mesh_load.h"
#include "test_support.h"

namespace fs = std::filesystem;
using torvel::Keep;
using torvel::LoadedFile;
using torvel::PolygonMesh;

namespace {

const torvel::importer::Limits kLimits{30, 1024};

std::string message_of(const fs::path& path, Keep keep = Keep::mesh) {
    return torvel::test::thrown_message<torvel::FileError>([&] { torvel::load_mesh_file(path, kLimits, keep); });
}

std::vector<std::string> names(const std::vector<PolygonMesh>& objects) {
    std::vector<std::string> out;
    for (const PolygonMesh& o : objects) out.push_back(o.objects.at(0).name);
    return out;
}

// An OBJ of two named objects sharing vertex 3, vertex 6 used by neither, and one bent quad.
const std::string kTwoObjects =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 1\nv 9 9 9\n"
    "o wing.left\nf 1 2 3 4\nf 2 5 6\n"
    "o \x01tail\nf 4 3 6\n";

}  // namespace

TEST(LoadMeshFile, EachExtensionGoesToItsReader) {
    const torvel::test::TempDir dir;
    const fs::path obj = dir.write("Quad.OBJ", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
    const fs::path stl = dir.write("tri.stl",
                                   "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                                   "endloop\nendfacet\nendsolid t\n");

    const LoadedFile own = torvel::load_mesh_file(obj, kLimits);
    EXPECT_STREQ(own.precision, "double");
    EXPECT_EQ(own.format, torvel::io::Format::obj);
    EXPECT_FALSE(own.named);
    EXPECT_EQ(own.mesh.polygon_count(), 1u);
    EXPECT_EQ(own.mesh.face_lines, (std::vector<std::uint32_t>{5}));
    EXPECT_TRUE(own.source.bytes().empty());  // the bytes only when asked for

    const LoadedFile kept = torvel::load_mesh_file(obj, kLimits, Keep::bytes);
    EXPECT_EQ(kept.source.bytes(), torvel::test::read_file(obj));
    EXPECT_EQ(kept.mesh.positions, own.mesh.positions);
    EXPECT_EQ(kept.mesh.indices, own.mesh.indices);
    EXPECT_EQ(kept.mesh.face_lines, own.mesh.face_lines);

    const LoadedFile imported = torvel::load_mesh_file(stl, kLimits, Keep::bytes);
    EXPECT_STREQ(imported.precision, "single");
    EXPECT_FALSE(imported.format.has_value());
    EXPECT_TRUE(imported.named);
    EXPECT_EQ(imported.mesh.polygon_count(), 1u);
    ASSERT_EQ(imported.mesh.objects.size(), 1u);
    EXPECT_TRUE(imported.source.bytes().empty());  // never rewritten in place

    EXPECT_TRUE(torvel::reads_mesh_name("a/B.Ply"));
    EXPECT_TRUE(torvel::reads_mesh_name("s.DAE"));
    EXPECT_TRUE(torvel::reads_mesh_name("settings.xml"));
    EXPECT_FALSE(torvel::searched_in_folders("settings.xml"));  // read when named, passed over in folders
    EXPECT_TRUE(torvel::searched_in_folders("s.dae"));
    EXPECT_TRUE(torvel::searched_in_folders("m.off"));
    EXPECT_FALSE(torvel::reads_mesh_name("notes.txt"));
    EXPECT_FALSE(torvel::searched_in_folders("notes.txt"));
}

TEST(LoadMeshFile, ErrorsNameTheFile) {
    const torvel::test::TempDir dir;
    fs::create_directory(dir.path() / "d.obj");
    for (const Keep keep : {Keep::mesh, Keep::bytes}) {
        EXPECT_EQ(message_of(dir.path() / "d.obj", keep), (dir.path() / "d.obj").string() + ": is a folder");
        EXPECT_NE(message_of(dir.write("bad.obj", "v 0 0 x\n"), keep).find("bad.obj:1: bad z coordinate"),
                  std::string::npos);
        EXPECT_NE(message_of(dir.write("notes.txt", "x"), keep).find("notes.txt: unknown mesh format \".txt\""),
                  std::string::npos);
        EXPECT_NE(message_of(dir.write("README", "x"), keep).find("README: no file extension"), std::string::npos);
        EXPECT_NE(message_of(dir.path() / "missing.dae", keep).find("missing.dae"), std::string::npos);
    }
}

TEST(SplitObjects, ObjObjectsGetTheVerticesTheyUseInFileOrder) {
    const torvel::test::TempDir dir;
    LoadedFile file = torvel::load_mesh_file(dir.write("two.obj", kTwoObjects), kLimits);
    ASSERT_TRUE(file.named);
    const std::vector<PolygonMesh> objects = torvel::split_objects(file, "two");
    ASSERT_EQ(names(objects), (std::vector<std::string>{"wing_left", "_tail"}));
    EXPECT_EQ(objects[0].positions, (std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0, 2, 1, 1}));
    EXPECT_EQ(objects[0].offsets, (std::vector<std::uint32_t>{0, 4, 7}));
    EXPECT_EQ(objects[0].indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 4, 5}));
    EXPECT_EQ(objects[1].positions, (std::vector<double>{1, 1, 0, 0, 1, 0, 2, 1, 1}));  // vertices 3, 4, 6
    EXPECT_EQ(objects[1].indices, (std::vector<std::uint32_t>{1, 0, 2}));
    // What the check still reads of the file stays with it.
    EXPECT_EQ(file.mesh.face_lines, (std::vector<std::uint32_t>{9, 10, 12}));
    EXPECT_TRUE(file.mesh.objects.empty());
    EXPECT_TRUE(file.mesh.positions.empty());

    // -o writes them one after another, the shared vertex twice, the unused one not at all.
    const PolygonMesh joined = torvel::joined_mesh(objects, file.named);
    EXPECT_EQ(joined.vertex_count(), 9u);
    EXPECT_EQ(joined.offsets, (std::vector<std::uint32_t>{0, 4, 7, 10}));
    EXPECT_EQ(joined.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 4, 5, 7, 6, 8}));
    ASSERT_EQ(joined.objects.size(), 2u);
    EXPECT_EQ(joined.objects[1].name, "_tail");
    EXPECT_EQ(joined.objects[1].first, 2u);
    EXPECT_TRUE(torvel::joined_mesh(objects, false).objects.empty());
}

TEST(SplitObjects, ImportedObjectsKeepTheirOwnVerticesUsedOrNot) {
    LoadedFile file;
    file.named = true;
    file.precision = "single";
    // Object 0: vertices 0-4, the last used by none of its polygons; object 1: vertices 5-7.
    file.mesh.positions = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 7, 7, 7, 5, 0, 0, 6, 0, 0, 5, 1, 0};
    file.mesh.offsets = {0, 4, 7};
    file.mesh.indices = {0, 1, 2, 3, 5, 6, 7};
    file.mesh.objects = {{"Plate", 0, 0}, {"Tri", 1, 5}};
    std::vector<PolygonMesh> objects = torvel::split_objects(file, "scene");
    ASSERT_EQ(names(objects), (std::vector<std::string>{"Plate", "Tri"}));
    EXPECT_EQ(objects[0].vertex_count(), 5u);
    EXPECT_EQ(objects[0].indices, (std::vector<std::uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(objects[1].positions, (std::vector<double>{5, 0, 0, 6, 0, 0, 5, 1, 0}));
    EXPECT_EQ(objects[1].indices, (std::vector<std::uint32_t>{0, 1, 2}));
    const PolygonMesh joined = torvel::joined_mesh(objects, true);
    EXPECT_EQ(joined.positions,
              (std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 7, 7, 7, 5, 0, 0, 6, 0, 0, 5, 1, 0}));
    EXPECT_EQ(joined.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(joined.objects[1].first_vertex, 5u);

    // An index outside its object's range is never taken for one of the object's own vertices.
    file.mesh.positions = {0, 0, 0, 1, 0, 0, 1, 1, 0, 5, 0, 0, 6, 0, 0, 5, 1, 0};
    file.mesh.offsets = {0, 3, 6};
    file.mesh.indices = {0, 1, 2, 3, 4, 1};
    file.mesh.objects = {{"a", 0, 0}, {"b", 1, 3}};
    objects = torvel::split_objects(file, "scene");
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_GE(objects[1].indices[2], objects[1].vertex_count());
}

TEST(SplitObjects, AFileWithoutObjectsIsOneObjectOnItsOwnArrays) {
    const torvel::test::TempDir dir;
    LoadedFile file = torvel::load_mesh_file(
        dir.write("m.off", "OFF\n5 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n9 9 9\n4 0 1 2 3\n"), kLimits);
    const double* positions = file.mesh.positions.data();
    const std::vector<PolygonMesh> objects = torvel::split_objects(file, "my.mesh\n");
    ASSERT_EQ(names(objects), (std::vector<std::string>{"my_mesh_"}));
    EXPECT_EQ(objects[0].positions.data(), positions);  // moved, not copied
    EXPECT_EQ(objects[0].vertex_count(), 5u);           // the unused vertex too
    EXPECT_TRUE(torvel::joined_mesh(objects, file.named).objects.empty());

    LoadedFile nothing;  // an import without polygons
    nothing.named = true;
    EXPECT_TRUE(torvel::split_objects(nothing, "scene").empty());
}
