// MyDic against the host's scene.
#include <gtest/gtest.h>

#include "mydic.h"
#include "test_meshes.h"

namespace {

using torvel::test::host;
using XSI::CRef;

class MyDicLookup : public ::testing::Test {
protected:
    void SetUp() override { host().new_scene(); }
};

TEST_F(MyDicLookup, NameOfAnyKindOfObjectExists) {
    const CRef mesh = torvel::test::add_separate_polygons(L"cube", {torvel::test::unit_square()});
    const MyDic by_name(L"cube");
    EXPECT_TRUE(by_name.Exis());
    EXPECT_EQ(by_name.GetRef(), mesh);
    EXPECT_TRUE(MyDic(L"Scene_Root.cube").Exis());
    EXPECT_TRUE(MyDic(L"Scene_Root").Exis());
}

TEST_F(MyDicLookup, UnknownNameDoesNotExist) {
    const MyDic lookup(L"Vn_TorvelFilter_Prop");
    EXPECT_FALSE(lookup.Exis());
    EXPECT_FALSE(lookup.GetRef().IsValid());
}

TEST_F(MyDicLookup, ResolvesOnceAndHandsOutCopies) {
    const MyDic early(L"late");
    torvel::test::add_separate_polygons(L"late", {torvel::test::unit_square()});
    EXPECT_FALSE(early.Exis());

    const MyDic lookup(L"late");
    CRef copy = lookup.GetRef();
    copy.Set(L"nothing by this name");
    EXPECT_FALSE(copy.IsValid());
    EXPECT_TRUE(lookup.Exis());
    EXPECT_EQ(lookup.GetRef(), host().resolve(L"late"));
}

}  // namespace
