#include <assimp/scene.h>

#include <algorithm>

#include "importer_test_util.h"
#include "mesh_io.h"

using namespace torvel::importer;
using namespace imptest;
namespace fs = std::filesystem;

namespace {

// Two quads (the second bent: one corner 0.5 out of the plane) and a pentagon; then a quad with two
// lines and a point among its faces.
const TestMesh kPanels{
    "panels",
    {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0.5f}, {3, 0.5f, 0}, {2.5f, 2, 0}},
    {{0, 1, 2, 3}, {1, 4, 5, 2}, {4, 6, 7, 5, 2}}};
const TestMesh kMixed{
    "mixed", {{0, 0, 5}, {1, 0, 5}, {1, 1, 5}, {0, 1, 5}, {3, 3, 3}}, {{0, 1, 2, 3}, {0, 2}, {4}, {1, 3}}};

std::vector<std::string> names(const ImportResult& r) {
    std::vector<std::string> out;
    for (const torvel::PolygonMesh::Object& o : r.mesh.objects) out.push_back(o.name);
    return out;
}

// The arrays hold together, and each object keeps to its own vertices (object_mesh checks that).
void expect_consistent(const ImportResult& r) {
    const torvel::PolygonMesh& m = r.mesh;
    ASSERT_EQ(m.positions.size() % 3, 0u);
    ASSERT_FALSE(m.offsets.empty());
    EXPECT_EQ(m.offsets.front(), 0u);
    EXPECT_EQ(m.offsets.back(), m.indices.size());
    EXPECT_TRUE(m.face_lines.empty());
    ASSERT_FALSE(m.objects.empty());
    EXPECT_EQ(m.objects.front().first, 0u);
    EXPECT_EQ(m.objects.front().first_vertex, 0u);
    for (std::size_t k = 0; k < m.objects.size(); ++k) {
        if (k > 0) {
            EXPECT_LT(m.objects[k - 1].first, m.objects[k].first);
        }
        static_cast<void>(object_mesh(r, k));
    }
}

}  // namespace

// FBX (ASCII), COLLADA and X carry polygons: every one comes back as it was written, corner for corner,
// the bent quad still bent; lines and points are counted and left out (COLLADA's exporter drops points).
TEST(Import, ExportedPolygonsComeBackCornerForCorner) {
    TempDir dir;
    const auto scene = make_scene({kPanels, kMixed}, {{"First", {0}}, {"Second", {1}}});
    struct Case {
        const char* exporter;
        const char* file;
        std::uint64_t points;
    };
    for (const Case& c : {Case{"fbxa", "s.fbx", 1}, Case{"collada", "s.dae", 0}, Case{"x", "s.x", 1}}) {
        SCOPED_TRACE(c.exporter);
        const fs::path file = dir.path() / c.file;
        export_scene(*scene, c.exporter, file);
        const ImportResult r = import_file(file);
        ASSERT_EQ(names(r), (std::vector<std::string>{"First", "Second"}));
        expect_consistent(r);
        EXPECT_EQ(polygons(object_mesh(r, 0)), polygons(kPanels));
        EXPECT_EQ(polygons(object_mesh(r, 1)), polygons(kMixed));
        EXPECT_EQ(r.skipped_lines, 2u);
        EXPECT_EQ(r.skipped_points, c.points);
        ASSERT_EQ(r.mesh.warnings.size(), 1u);
        EXPECT_EQ(r.mesh.warnings[0],
                  file.string() + (c.points ? ": skipped 2 lines and 1 point" : ": skipped 2 lines"));
    }
}

// glTF and 3DS hold triangles only, so their exporters split the polygons: the triangles come back in
// the exporter's order, each corner one of the mesh's own points.
TEST(Import, TriangleFormatsComeBackAsTheirExporterSplitThem) {
    TempDir dir;
    const auto scene = make_scene({kPanels, kMixed}, {{"First", {0}}, {"Second", {1}}});
    for (const char* exporter : {"gltf2", "3ds"}) {
        SCOPED_TRACE(exporter);
        const fs::path file = dir.path() / (std::string("s.") + (exporter[0] == 'g' ? "gltf" : "3ds"));
        export_scene(*scene, exporter, file);
        const ImportResult r = import_file(file);
        ASSERT_EQ(r.mesh.objects.size(), 2u);
        EXPECT_EQ(object_mesh(r, 0).polygon_count(), 7u);
        EXPECT_EQ(object_mesh(r, 1).polygon_count(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            const TestMesh& want = i == 0 ? kPanels : kMixed;
            for (const Polygon& p : polygons(object_mesh(r, i))) {
                ASSERT_EQ(p.size(), 3u);
                for (const Corner& c : p)
                    EXPECT_TRUE(std::any_of(want.vertices.begin(), want.vertices.end(), [&](const auto& v) {
                        return c == Corner{v[0], v[1], v[2]};
                    }));
            }
        }
    }
}

// The same polygons through torvel's own PLY reader and through Assimp's COLLADA importer.
TEST(Import, AgreesWithTorvelsOwnPlyReader) {
    TempDir dir;
    const auto scene = make_scene({kPanels}, {{"Panels", {0}}});
    export_scene(*scene, "ply", dir.path() / "s.ply");
    export_scene(*scene, "collada", dir.path() / "s.dae");
    EXPECT_FALSE(handles(dir.path() / "s.ply"));
    const torvel::PolygonMesh own = torvel::io::read_mesh(dir.path() / "s.ply");
    const ImportResult r = import_file(dir.path() / "s.dae");
    ASSERT_EQ(r.mesh.objects.size(), 1u);
    EXPECT_EQ(polygons(object_mesh(r, 0)), polygons(own));
}

// Names: the first node that uses a mesh, else the mesh's name, else "mesh<index>"; repeated names
// get a number. (The FBX exporter keeps an empty node name empty.)
TEST(Import, NamesFromNodesThenMeshesThenIndices) {
    TempDir dir;
    const TestMesh a{"", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}};
    const TestMesh b{"", {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}}, {{0, 1, 2}}};
    const auto scene = make_scene({a, b, b}, {{"", {0}}, {"Same", {1}}, {"Same", {2}}});
    export_scene(*scene, "fbxa", dir.path() / "n.fbx");
    EXPECT_EQ(names(import_file(dir.path() / "n.fbx")), (std::vector<std::string>{"mesh0", "Same", "Same1"}));
}

// COLLADA by hand: objects in mesh order, named after their nodes' name attributes; a geometry placed
// by two nodes is one object; positions are the geometry's own (the node's translation is not applied).
TEST(Import, HandWrittenCollada) {
    TempDir dir;
    auto geometry = [](const std::string& id, const std::string& floats, int vertices, const std::string& vcount,
                       const std::string& p) {
        return "<geometry id=\"" + id + "\" name=\"" + id + "_mesh\"><mesh><source id=\"" + id +
               "-pos\"><float_array id=\"" + id + "-arr\" count=\"" + std::to_string(3 * vertices) + "\">" + floats +
               "</float_array><technique_common><accessor source=\"#" + id + "-arr\" count=\"" +
               std::to_string(vertices) +
               "\" stride=\"3\"><param name=\"X\" type=\"float\"/><param name=\"Y\" type=\"float\"/><param "
               "name=\"Z\" type=\"float\"/></accessor></technique_common></source><vertices id=\"" +
               id + "-vtx\"><input semantic=\"POSITION\" source=\"#" + id + "-pos\"/></vertices><polylist count=\"" +
               std::to_string(std::count(vcount.begin(), vcount.end(), ' ') + 1) +
               "\"><input semantic=\"VERTEX\" source=\"#" + id + "-vtx\" offset=\"0\"/><vcount>" + vcount +
               "</vcount><p>" + p + "</p></polylist></mesh></geometry>";
    };
    const std::string dae =
        "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" "
        "version=\"1.4.1\"><library_geometries>" +
        geometry("plate", "0 0 0 1 0 0 1 1 0 0 1 0 2 0 0 2 1 0.5 3 0.5 0", 7, "4 4 5", "0 1 2 3 1 4 5 2 4 6 5 3 2") +
        geometry("tri", "0 0 2 1 0 2 0 1 2", 3, "3", "0 1 2") +
        geometry("other", "5 5 5 6 5 5 6 6 5 5 6 5", 4, "4", "3 2 1 0") +
        "</library_geometries><library_visual_scenes><visual_scene id=\"s\">"
        "<node id=\"n1\" name=\"Triangle\"><instance_geometry url=\"#tri\"/></node>"
        "<node id=\"n2\" name=\"Plate\"><translate>10 0 0</translate><instance_geometry url=\"#plate\"/></node>"
        "<node id=\"n3\" name=\"Again\"><instance_geometry url=\"#plate\"/></node>"
        "<node id=\"n4\" name=\"Plate\"><instance_geometry url=\"#other\"/></node>"
        "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/></scene></COLLADA>";
    const ImportResult r = import_file(dir.write("hand.dae", dae));
    ASSERT_EQ(names(r), (std::vector<std::string>{"Triangle", "Plate", "Plate1"}));
    EXPECT_EQ(polygons(object_mesh(r, 0)), (std::vector<Polygon>{{{0, 0, 2}, {1, 0, 2}, {0, 1, 2}}}));
    const std::vector<Polygon> plate = polygons(object_mesh(r, 1));
    ASSERT_EQ(plate.size(), 3u);
    EXPECT_EQ(plate[1], (Polygon{{1, 0, 0}, {2, 0, 0}, {2, 1, 0.5}, {1, 1, 0}}));
    EXPECT_EQ(plate[2].size(), 5u);
    EXPECT_EQ(polygons(object_mesh(r, 2)), (std::vector<Polygon>{{{5, 6, 5}, {6, 6, 5}, {6, 5, 5}, {5, 5, 5}}}));
    EXPECT_TRUE(r.mesh.warnings.empty());
}

TEST(Import, HandWrittenX3dAndX) {
    TempDir dir;
    const ImportResult x3d = import_file(dir.write("plate.X3D", R"(<?xml version="1.0" encoding="UTF-8"?>
<X3D profile="Interchange" version="3.3"><Scene>
  <Transform DEF="Plate" translation="5 0 0"><Shape>
    <IndexedFaceSet coordIndex="0 1 2 3 -1 1 4 5 2 -1">
      <Coordinate point="0 0 0, 1 0 0, 1 1 0, 0 1 0, 2 0 0, 2 1 0.5"/>
    </IndexedFaceSet>
  </Shape></Transform>
</Scene></X3D>
)"));
    ASSERT_EQ(names(x3d), (std::vector<std::string>{"Plate"}));
    EXPECT_EQ(polygons(object_mesh(x3d, 0)), (std::vector<Polygon>{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
                                                                   {{1, 0, 0}, {2, 0, 0}, {2, 1, 0.5}, {1, 1, 0}}}));

    const ImportResult x = import_file(dir.write("panel.x", R"(xof 0302txt 0032
Frame Panel {
 Mesh panel {
  5;
  0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.25;, 0.0;1.0;0.0;, 2.0;0.5;0.0;;
  2;
  4;0,1,2,3;,
  3;1,4,2;;
 }
}
)"));
    // X files are left-handed: Assimp's reader brings them into its right-handed space itself,
    // z mirrored and each polygon's corners reversed (the exporter does the opposite, so a round trip
    // through both is exact, as above).
    ASSERT_EQ(names(x), (std::vector<std::string>{"Panel"}));
    EXPECT_EQ(polygons(object_mesh(x, 0)), (std::vector<Polygon>{{{0, 1, 0}, {1, 1, -0.25}, {1, 0, 0}, {0, 0, 0}},
                                                                 {{1, 1, -0.25}, {2, 0.5, 0}, {1, 0, 0}}}));
}

// AC3D surfaces of type line: an open line of 3 points is 2 lines, a closed one 3; an object with
// lines only becomes no object at all.
TEST(Import, LinesAreCountedAndLeftOut) {
    TempDir dir;
    const ImportResult r = import_file(dir.write("lines.ac", R"(AC3Db
MATERIAL "m" rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.5 0.5 0.5  shi 10  trans 0
OBJECT world
kids 2
OBJECT poly
name "plate"
numvert 5
0 0 0
1 0 0
1 1 0
0 1 0
2 0.5 0
numsurf 3
SURF 0x0
mat 0
refs 4
0 0 0
1 0 0
2 0 0
3 0 0
SURF 0x2
mat 0
refs 3
1 0 0
4 0 0
2 0 0
SURF 0x1
mat 0
refs 3
0 0 0
2 0 0
4 0 0
kids 0
OBJECT poly
name "wire"
numvert 2
0 0 0
0 0 1
numsurf 1
SURF 0x2
mat 0
refs 2
0 0 0
1 0 0
kids 0
)"));
    ASSERT_EQ(names(r), (std::vector<std::string>{"plate"}));
    EXPECT_EQ(polygons(object_mesh(r, 0)), (std::vector<Polygon>{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}));
    EXPECT_EQ(r.skipped_lines, 6u);
    EXPECT_EQ(r.skipped_points, 0u);
    ASSERT_EQ(r.mesh.warnings.size(), 1u);
    EXPECT_NE(r.mesh.warnings[0].find("lines.ac: skipped 6 lines"), std::string::npos);
}
