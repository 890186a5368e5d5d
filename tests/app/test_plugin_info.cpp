// torvel plugin-info: the plug-in's registration and property as the host found them.
#include "run.h"

using nlohmann::json;

namespace apptest {
namespace {

class PluginInfoFiles : public TempDirTest {};

TEST(PluginInfo, JsonDescribesIdentityItemsCallbacksAndTheDefinedProperty) {
    Result r = run({"plugin-info", "--format", "json", kPlugin.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const json info = json::parse(r.out);
    EXPECT_EQ(info["name"], "C++ Torvel Filter Plug-in");
    EXPECT_EQ(info["version"], json::parse("[1, 0]"));
    for (const char* key : {"author", "email", "url"}) EXPECT_TRUE(info[key].is_string()) << key;

    EXPECT_EQ(info["items"], json::parse(R"([
        {"name": "Vn_TorvelFilter", "kind": "filter", "filter_type": 6, "callbacks": {
            "Applicable": "Vn_TorvelFilter_Applicable", "Init": "Vn_TorvelFilter_Init",
            "Match": "Vn_TorvelFilter_Match", "Reload": "Vn_TorvelFilter_Reload",
            "Subset": "Vn_TorvelFilter_Subset", "Term": "Vn_TorvelFilter_Term", "Unload": "Vn_TorvelFilter_Unload"}},
        {"name": "Vn_TorvelFilter_Prop", "kind": "property", "callbacks": {
            "Define": "Vn_TorvelFilter_Prop_Define", "DefineLayout": "Vn_TorvelFilter_Prop_DefineLayout",
            "PPGEvent": "VN_TorvelFilter_Prop_PPGEvent"}}])"));

    const json& prop = info["property"];
    EXPECT_EQ(prop["name"], "Vn_TorvelFilter_Prop");
    EXPECT_EQ(prop["full_name"], "Scene_Root.Vn_TorvelFilter_Prop");
    ASSERT_EQ(prop["parameters"].size(), 2u);
    const json& def = prop["parameters"][0];
    EXPECT_EQ(def["script_name"], "def");
    EXPECT_EQ(def["type"], "double");
    EXPECT_EQ(def["name"], "Tolerance");
    EXPECT_EQ(def["default"], 45);
    EXPECT_EQ(def["value"], 45);
    EXPECT_EQ(def["min"], 0);
    EXPECT_EQ(def["max"], 90);
    EXPECT_EQ(def["suggested_min"], 0);
    EXPECT_EQ(def["suggested_max"], 90);
    const json& info_text = prop["parameters"][1];
    EXPECT_EQ(info_text["script_name"], "ShowInfo");
    EXPECT_EQ(info_text["type"], "string");
    EXPECT_EQ(info_text["value"], "This is TorvelFilter Property\r\n");
    for (const char* absent : {"min", "max", "suggested_min", "suggested_max"})
        EXPECT_TRUE(info_text[absent].is_null()) << absent;
    for (const json& p : prop["parameters"])
        for (const char* key : {"script_name", "type", "capabilities", "name", "description", "default", "min", "max",
                                "suggested_min", "suggested_max", "value"})
            EXPECT_TRUE(p.contains(key)) << key;

    ASSERT_EQ(prop["layout"].size(), 1u);
    const json& group = prop["layout"][0];
    EXPECT_EQ(group["group"], "FilterValue");
    EXPECT_EQ(group["border"], true);
    ASSERT_EQ(group["items"].size(), 2u);
    EXPECT_EQ(group["items"][0]["name"], "def");
    EXPECT_EQ(group["items"][1]["name"], "ShowInfo");
    EXPECT_EQ(group["items"][1]["control"], "Static");
    for (const json& item : group["items"])
        for (const char* key : {"name", "label", "control", "label_percentage", "label_min_pixels"})
            EXPECT_TRUE(item.contains(key)) << key;
}

TEST_F(PluginInfoFiles, PluginInfoTextSummaryAndTheLogOfTheLoad) {
    const fs::path log = dir / "info.jsonl";
    RunOptions env;
    env.env["TORVEL_PLUGIN"] = kPlugin.string();
    Result r = run({"plugin-info", "--log", log.string()}, env);
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* part : {"\"C++ Torvel Filter Plug-in\" version 1.0", "Vn_TorvelFilter (filter, filter type 6)",
                             "PPGEvent: VN_TorvelFilter_Prop_PPGEvent", "property Scene_Root.Vn_TorvelFilter_Prop:",
                             "value 45, default 45, range 0 to 90", "group \"FilterValue\""})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    EXPECT_EQ(log_texts(log), (std::vector<std::string>{"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter",
                                                        "Terminating C++ Vn_TorvelFilter:Vn_TorvelFilter",
                                                        "C++ Torvel Filter Plug-in has been unloaded."}));
}

TEST_F(PluginInfoFiles, PluginInfoRefusesWhatIsNotAPlugin) {
    const fs::path text = write("plain.so", "not a library");
    for (const fs::path& p : {text, dir / "missing.so", fs::path("/bin/sh")}) {
        Result r = run({"plugin-info", "--format", "json", p.string()});
        EXPECT_EQ(r.code, 2) << p;
        EXPECT_EQ(r.out, "") << p;
        EXPECT_NE(r.err.find(p.string()), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace apptest
