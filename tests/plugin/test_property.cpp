// The settings property: its parameters, its page layout and its page events.
#include <xsi_customproperty.h>
#include <xsi_ppglayout.h>

#include "plugin_fixture.h"

namespace {

using namespace torvel::test;
using torvel::test::host;
using torvel::host::LayoutEntry;
using torvel::host::PropertyObject;
using XSI::CRef;
using XSI::CValue;

class SettingsProperty : public PluginTest {
protected:
    static PropertyObject& object(const CRef& prop) { return *host().store().find_as<PropertyObject>(prop); }
};

TEST_F(SettingsProperty, DefineAddsToleranceAndInformationText) {
    const CRef prop = add_settings();
    const std::vector<torvel::host::ParamDef>& params = object(prop).params;
    ASSERT_EQ(params.size(), 2u);

    const torvel::host::ParamDef& def = params[0];
    EXPECT_EQ(def.script_name, L"def");
    EXPECT_EQ(def.type, CValue::siDouble);
    EXPECT_EQ(def.capabilities, 4);
    EXPECT_EQ(def.name, L"Tolerance");
    EXPECT_EQ(def.description, L"Tolerance");
    EXPECT_EQ(def.default_value, CValue(45.0));
    EXPECT_EQ(def.min, CValue(0.0));
    EXPECT_EQ(def.max, CValue(90.0));
    EXPECT_EQ(def.suggested_min, CValue(0.0));
    EXPECT_EQ(def.suggested_max, CValue(90.0));
    EXPECT_EQ(def.value, CValue(45.0));

    const torvel::host::ParamDef& info_param = params[1];
    EXPECT_EQ(info_param.script_name, L"ShowInfo");
    EXPECT_EQ(info_param.type, CValue::siString);
    EXPECT_EQ(info_param.capabilities, 4);
    EXPECT_EQ(info_param.name, L"");
    EXPECT_EQ(info_param.description, L"");
    EXPECT_EQ(info_param.default_value.GetType(), CValue::siString);
    EXPECT_EQ(info_param.default_value, CValue(L""));
    EXPECT_TRUE(info_param.min.IsEmpty());
    EXPECT_TRUE(info_param.suggested_max.IsEmpty());
    const std::wstring text = static_cast<XSI::CString>(info_param.value).str();
    EXPECT_EQ(text, L"This is TorvelFilter Property\r\n");
    EXPECT_EQ(text.size(), 31u);
}

TEST_F(SettingsProperty, DefineReturnsOkWhenTheHostRefusesParameters) {
    const CRef prop = add_settings();
    Request again;
    again.source = prop;  // both script names are taken now
    EXPECT_EQ(call(property(), "Define", again).status.GetCode(), XSI::CStatus::OK);
    Request nothing;
    nothing.source = host().scene_root();  // not a custom property
    EXPECT_EQ(call(property(), "Define", nothing).status.GetCode(), XSI::CStatus::OK);
    EXPECT_TRUE(take_log().empty());
}

TEST_F(SettingsProperty, LayoutIsOneFramedGroupRebuiltOnEveryCall) {
    const CRef prop = add_settings();
    for (int round = 0; round < 2; ++round) {
        host().define_layout(prop);
        const std::vector<LayoutEntry>& layout = object(prop).layout;
        ASSERT_EQ(layout.size(), 4u) << "round " << round;

        EXPECT_EQ(layout[0].kind, LayoutEntry::Kind::group);
        EXPECT_EQ(layout[0].label, L"FilterValue");
        EXPECT_TRUE(layout[0].border);
        EXPECT_EQ(layout[0].width, 0);

        EXPECT_EQ(layout[1].kind, LayoutEntry::Kind::item);
        EXPECT_EQ(layout[1].name, L"def");
        EXPECT_EQ(layout[1].label, L"");
        EXPECT_EQ(layout[1].control, L"");
        EXPECT_EQ(layout[1].label_percentage, 1);
        EXPECT_EQ(layout[1].label_min_pixels, 20);

        EXPECT_EQ(layout[2].kind, LayoutEntry::Kind::item);
        EXPECT_EQ(layout[2].name, L"ShowInfo");
        EXPECT_EQ(layout[2].label, L"");
        EXPECT_EQ(layout[2].control, XSI::siControlStatic);
        EXPECT_EQ(layout[2].label_percentage, 0);
        EXPECT_EQ(layout[2].label_min_pixels, 0);

        EXPECT_EQ(layout[3].kind, LayoutEntry::Kind::end_group);
    }
    Request no_layout;
    no_layout.source = host().scene_root();
    EXPECT_EQ(call(property(), "DefineLayout", no_layout).status.GetCode(), XSI::CStatus::OK);
}

class PageEvents : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        prop_ = add_settings();
        take_log();
    }
    Result event(XSI::LONG id, std::map<std::wstring, CValue> attributes = {}) {
        Request request;
        request.source = prop_;
        request.event_id = id;
        request.attributes = std::move(attributes);
        const Result r = call(property(), "PPGEvent", request);
        EXPECT_TRUE(r.called);
        EXPECT_EQ(r.status.GetCode(), XSI::CStatus::OK) << "event " << id;
        return r;
    }
    CRef prop_;
};

TEST_F(PageEvents, InitLogsTheFullNameAndAsksForARefresh) {
    const Result r = event(1);
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L"OnInit called for " + host().full_name(prop_))});
    EXPECT_EQ(host().full_name(prop_), L"Scene_Root.Vn_TorvelFilter_Prop");
    ASSERT_EQ(r.attributes.count(L"Refresh"), 1u);
    EXPECT_EQ(r.attributes.at(L"Refresh"), CValue(true));
}

TEST_F(PageEvents, ButtonAndTabEvents) {
    event(4, {{L"Button", CValue(L"Apply")}});
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L"Buttonclicked ")});
    event(5, {{L"Tab", CValue(L"Options")}});
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L"Tab changed to:Options")});
    event(5);
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L"Tab changed to:")});
}

TEST_F(PageEvents, OtherEventsDoNothing) {
    for (XSI::LONG id : {0, 2, 3, 6, 100, -1}) {
        const std::map<std::wstring, CValue> given{{L"Tab", CValue(L"Options")}};
        const Result r = event(id, given);
        EXPECT_EQ(r.attributes, given) << "event " << id;
        EXPECT_TRUE(take_log().empty()) << "event " << id;
    }
    const XSI::ProjectItem item(prop_);
    EXPECT_EQ(item.GetParameterValue(L"def"), CValue(45.0));
    EXPECT_EQ(item.GetParameterValue(L"ShowInfo"), CValue(L"This is TorvelFilter Property\r\n"));
}

}  // namespace
