// The filter's Subset, Match and Applicable callbacks, driven through the host on real meshes.
#include <xsi_customproperty.h>

#include "plugin_fixture.h"

namespace {

using namespace torvel::test;
using torvel::test::host;
using XSI::CRef;
using Elements = std::vector<std::uint32_t>;

// Polygon i of the mix, and the tolerance angles at which it is kept (reported non-planar).
std::vector<Polygon> mix() {
    return {
        unit_square(),         // 0: flat, kept only at 0 degrees
        triangle(),            // 1: never kept
        folded_square(50),     // 2: bends by 50 degrees
        folded_square(70),     // 3: bends by 70 degrees
        right_angle_quad(),    // 4: perpendicular corner normals, kept up to 90 degrees
        collinear_pentagon(),  // 5: zero corner normal, always kept
        folded_square(40),     // 6: bends by 40 degrees
    };
}

// The filter applied as the host applies it (run_filter).
class Subset : public PluginTest {
protected:
    torvel::host::FilterResult subset(const std::vector<CRef>& input) {
        return torvel::host::run_filter(host(), poly_torvel_filer::kFilterName, input);
    }
    // Runs Subset on all polygons of a fresh mix mesh and returns what is left of them.
    Elements kept_of_mix() {
        const CRef item = host().make_component_item(add_separate_polygons(L"mix", mix()), XSI::siPolygonFaceID, {});
        return subset({item}).remaining.front();
    }
    static std::vector<CRef> output(const torvel::host::FilterResult& r) { return r.output; }
};

TEST_F(Subset, ToleranceComesFromTheSettingsProperty) {
    add_settings();
    EXPECT_EQ(kept_of_mix(), (Elements{2, 3, 4, 5}));  // cos 45 degrees
}

TEST_F(Subset, MissingPropertyMeansCosineOneHalf) {
    EXPECT_EQ(kept_of_mix(), (Elements{3, 4, 5}));  // 60 degrees
}

TEST_F(Subset, ToleranceRangeEnds) {
    const CRef prop = add_settings(0.0);
    EXPECT_EQ(kept_of_mix(), (Elements{0, 2, 3, 4, 5, 6}));  // cosine 1: every polygon past a triangle
    XSI::ProjectItem(prop).PutParameterValue(L"def", XSI::CValue(90.0));
    EXPECT_EQ(kept_of_mix(), (Elements{4, 5}));
}

TEST_F(Subset, ChangedToleranceTakesEffectAtTheNextCall) {
    const CRef prop = add_settings();
    EXPECT_EQ(kept_of_mix(), (Elements{2, 3, 4, 5}));
    XSI::ProjectItem(prop).PutParameterValue(L"def", XSI::CValue(65.0));
    EXPECT_EQ(kept_of_mix(), (Elements{3, 4, 5}));
}

TEST_F(Subset, LogsTheCountLeftAndHandsTheInputBack) {
    add_settings();
    const CRef mesh = add_separate_polygons(L"mix", mix());
    // Selection order is collection order; unselected polygons are not touched.
    const CRef item = host().make_component_item(mesh, XSI::siPolygonFaceID, Elements{6, 2, 0, 5});
    const torvel::host::FilterResult r = subset({item});
    EXPECT_EQ(r.remaining, std::vector<Elements>{(Elements{2, 5})});
    EXPECT_EQ(output(r), std::vector<CRef>{item});
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:2")});
}

TEST_F(Subset, AllPlanarLeavesNothingAndAnEmptyOutput) {
    add_settings();
    const CRef item = host().make_component_item(
        add_separate_polygons(L"flat", {unit_square(), triangle(), l_hexagon(), triangle()}), XSI::siPolygonFaceID, {});
    const torvel::host::FilterResult r = subset({item});
    EXPECT_TRUE(host().item_elements(item).empty());
    EXPECT_TRUE(output(r).empty());
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:0")});

    // Applied again, the collection is empty.
    const torvel::host::FilterResult again = subset({item});
    EXPECT_TRUE(output(again).empty());
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:0")});
}

TEST_F(Subset, NoneRemovedWhenAllAreNonPlanar) {
    add_settings();
    const CRef item = host().make_component_item(
        add_separate_polygons(L"bent", {folded_square(50), collinear_pentagon(), folded_square(80)}),
        XSI::siPolygonFaceID, {});
    const torvel::host::FilterResult r = subset({item});
    EXPECT_EQ(host().item_elements(item), (Elements{0, 1, 2}));
    EXPECT_EQ(output(r), std::vector<CRef>{item});
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:3")});
}

TEST_F(Subset, VerticesAreLeftAlone) {
    add_settings();
    const CRef item = host().make_component_item(add_separate_polygons(L"quad", {unit_square()}), XSI::siVertexID, {});
    const torvel::host::FilterResult r = subset({item});
    EXPECT_EQ(host().item_elements(item), (Elements{0, 1, 2, 3}));
    EXPECT_EQ(output(r), std::vector<CRef>{item});
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:4")});
}

TEST_F(Subset, WholeObjectHasNoComponentsToWalk) {
    add_settings();
    const CRef object = host().make_object_item(add_separate_polygons(L"bent", {folded_square(50)}));
    const torvel::host::FilterResult r = subset({object});
    EXPECT_TRUE(output(r).empty());
    EXPECT_EQ(r.remaining, std::vector<Elements>{Elements{}});
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:0")});
}

TEST_F(Subset, OnlyTheFirstItemIsReduced) {
    add_settings();
    const CRef first = host().make_component_item(add_separate_polygons(L"mix", mix()), XSI::siPolygonFaceID, {});
    const CRef flat_mesh = add_separate_polygons(L"flat", {unit_square(), triangle()});
    const CRef second = host().make_component_item(flat_mesh, XSI::siPolygonFaceID, {});
    const torvel::host::FilterResult r = subset({first, second});
    EXPECT_EQ(host().item_elements(first), (Elements{2, 3, 4, 5}));
    EXPECT_EQ(host().item_elements(second), (Elements{0, 1}));
    EXPECT_EQ(output(r), (std::vector<CRef>{first, second}));

    // When nothing is left of the first, the others are dropped with it.
    const CRef third = host().make_component_item(flat_mesh, XSI::siPolygonFaceID, {});
    const torvel::host::FilterResult dropped = subset({third, first});
    EXPECT_TRUE(host().item_elements(third).empty());
    EXPECT_EQ(host().item_elements(first), (Elements{2, 3, 4, 5}));
    EXPECT_TRUE(output(dropped).empty());
}

TEST_F(Subset, EmptyInputIsReportedAsNothingLeft) {
    add_settings();
    const torvel::host::FilterResult r = subset({});
    EXPECT_TRUE(output(r).empty());
    EXPECT_TRUE(r.remaining.empty());
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L" select count:0")});
}

// The callback itself, as exported: it answers false and writes "Output" on every path.
TEST_F(Subset, CallbackAnswersFalseAndAlwaysWritesOutput) {
    add_settings();
    const CRef mesh = add_separate_polygons(L"mix", mix());
    for (const std::vector<CRef>& input :
         {std::vector<CRef>{}, std::vector<CRef>{host().make_component_item(mesh, XSI::siPolygonFaceID, {})},
          std::vector<CRef>{host().make_object_item(mesh)}}) {
        Request request;
        request.input = input;
        const Result r = call(filter(), "Subset", request);
        EXPECT_TRUE(r.called);
        EXPECT_FALSE(r.returned);
        EXPECT_EQ(r.array_attributes.count(L"Output"), 1u);
    }
}

class MatchAndApplicable : public PluginTest {};

TEST_F(MatchAndApplicable, MatchHandsInputBackAsOutput) {
    const CRef mesh = add_separate_polygons(L"quad", {unit_square()});
    const CRef a = host().make_component_item(mesh, XSI::siPolygonFaceID, {});
    const CRef b = host().make_component_item(mesh, XSI::siVertexID, {});
    Request request;
    request.input = {b, a, b};
    request.input_value = XSI::CValue(a);
    const Result r = call(filter(), "Match", request);
    EXPECT_TRUE(r.called);
    EXPECT_FALSE(r.returned);
    EXPECT_EQ(r.array_attributes.at(L"Output"), (std::vector<CRef>{b, a, b}));
    EXPECT_EQ(static_cast<CRef>(r.attributes.at(L"Output")), a);
    // The line is the text of a one-slot array (the context has a source) and "_Subset".
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(XSI::CRefArray(1).GetAsText().str() + L"_Subset")});
    EXPECT_EQ(host().item_elements(a), (Elements{0}));
}

TEST_F(MatchAndApplicable, MatchWithEmptyInputWritesEmptyOutput) {
    const Result r = call(filter(), "Match");
    EXPECT_FALSE(r.returned);
    EXPECT_TRUE(r.array_attributes.at(L"Output").empty());
    EXPECT_FALSE(static_cast<CRef>(r.attributes.at(L"Output")).IsValid());
    const std::vector<LogLine> lines = take_log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, XSI::siInfoMsg);
    EXPECT_TRUE(lines[0].second.ends_with(L"_Subset"));
}

TEST_F(MatchAndApplicable, ApplicableLogsAndAnswersFalse) {
    const CRef item =
        host().make_component_item(add_separate_polygons(L"bent", {folded_square(50)}), XSI::siPolygonFaceID, {});
    for (const std::vector<CRef>& input : {std::vector<CRef>{}, std::vector<CRef>{item}}) {
        Request request;
        request.input = input;
        const Result r = call(filter(), "Applicable", request);
        EXPECT_TRUE(r.called);
        EXPECT_FALSE(r.returned);
        EXPECT_EQ(r.attributes.count(L"Output") + r.array_attributes.count(L"Output"), 0u);
        EXPECT_EQ(take_log(), std::vector<LogLine>{info(L"Vn_TorvelFilter_IsApplicable.")});
    }
}

}  // namespace
