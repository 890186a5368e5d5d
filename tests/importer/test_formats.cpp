#include <algorithm>

#include "importer_test_util.h"

using namespace torvel::importer;

namespace {

const Format* format_with(const std::string& ext) {
    for (const Format& f : formats())
        if (std::find(f.extensions.begin(), f.extensions.end(), ext) != f.extensions.end()) return &f;
    return nullptr;
}

}  // namespace

// The list is Assimp's own, minus the three formats torvel reads itself.
TEST(Formats, AssimpsImportersWithoutOursInLowerCase) {
    ASSERT_GT(formats().size(), 30u);
    for (const char* own : {"obj", "ply", "off"}) EXPECT_EQ(format_with(own), nullptr) << own;
    for (const char* ext : {"dae", "zae", "fbx", "gltf", "glb", "3ds", "x", "ac", "x3d", "stl", "blend", "mesh.xml"})
        EXPECT_NE(format_with(ext), nullptr) << ext;
    EXPECT_EQ(format_with("dae")->description, "Collada Importer");
    for (const Format& f : formats()) {
        EXPECT_FALSE(f.description.empty());
        for (const std::string& e : f.extensions) {
            EXPECT_FALSE(e.empty());
            EXPECT_TRUE(std::none_of(e.begin(), e.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == ' '; }))
                << e;
        }
    }
}

TEST(Formats, HandlesGoesByTheWholeEndingOfTheName) {
    EXPECT_TRUE(handles("scene.dae"));
    EXPECT_TRUE(handles("/some/dir.obj/SCENE.DAE"));
    EXPECT_TRUE(handles("a.Mesh.Xml"));
    EXPECT_TRUE(handles("b.xml"));
    EXPECT_TRUE(handles(".fbx"));
    EXPECT_FALSE(handles("mesh.obj"));
    EXPECT_FALSE(handles("mesh.PLY"));
    EXPECT_FALSE(handles("mesh.off"));
    EXPECT_FALSE(handles("dae"));         // no extension
    EXPECT_FALSE(handles("scene.xdae"));  // "dae" is not the whole extension
    EXPECT_FALSE(handles("scene.dae/"));
    EXPECT_FALSE(handles(""));
}
