// The module's exports, its registration, the filter's lifecycle callbacks and unloading.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include <xsi_customproperty.h>

#include "elf_exports.h"
#include "symbols.h"
#include "plugin_fixture.h"
#include "test_support.h"

namespace {

using namespace torvel::test;
using torvel::test::host;

const std::vector<std::string> kExports = {
    "VN_TorvelFilter_Prop_PPGEvent",
    "Vn_TorvelFilter_Applicable",
    "Vn_TorvelFilter_Init",
    "Vn_TorvelFilter_Match",
    "Vn_TorvelFilter_Prop_Define",
    "Vn_TorvelFilter_Prop_DefineLayout",
    "Vn_TorvelFilter_Reload",
    "Vn_TorvelFilter_Subset",
    "Vn_TorvelFilter_Term",
    "Vn_TorvelFilter_Unload",
    "XSILoadPlugin",
    "XSIUnloadPlugin",
};

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PluginModule, ExportsExactlyTheTwelveCallbacks) {
    EXPECT_EQ(sorted(torvel::host::exported_functions(kPluginPath)), sorted(kExports));
}

// Data and other symbol kinds too, which the host's function list leaves out.
TEST(PluginModule, DynamicSymbolTableDefinesNothingElse) {
    const auto names = torvel::test::defined_dynamic_symbols(kPluginPath, false);
    if (!names) GTEST_SKIP() << "nm cannot be run";
    EXPECT_EQ(sorted(*names), sorted(kExports));
}

class Registration : public PluginTest {};

TEST_F(Registration, IdentityItemsAndCallbacks) {
    const torvel::host::PluginLibrary* lib = host().plugins().find_library(kPluginName);
    ASSERT_NE(lib, nullptr);
    const auto* reg = host().store().find_as<torvel::host::RegistrarObject>(lib->registrar());
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg->name, kPluginName);
    EXPECT_FALSE(reg->author.empty());
    EXPECT_EQ(reg->email, L"");
    EXPECT_EQ(reg->url, L"");
    EXPECT_EQ(reg->version_major, 1);
    EXPECT_EQ(reg->version_minor, 0);

    ASSERT_EQ(lib->items().size(), 2u);
    const torvel::host::ItemInfo& f = lib->items()[0];
    EXPECT_EQ(f.name, L"Vn_TorvelFilter");
    EXPECT_TRUE(f.is_filter);
    EXPECT_EQ(f.filter_type, 6);
    const torvel::host::ItemInfo& p = lib->items()[1];
    EXPECT_EQ(p.name, L"Vn_TorvelFilter_Prop");
    EXPECT_FALSE(p.is_filter);

    auto exported = [](const torvel::host::ItemInfo& item) {
        std::vector<std::string> names;
        for (const auto& [callback, cb] : item.callbacks) names.push_back(cb.exported_name);
        return sorted(names);
    };
    EXPECT_EQ(exported(f), sorted({"Vn_TorvelFilter_Init", "Vn_TorvelFilter_Unload", "Vn_TorvelFilter_Reload",
                                   "Vn_TorvelFilter_Term", "Vn_TorvelFilter_Match", "Vn_TorvelFilter_Applicable",
                                   "Vn_TorvelFilter_Subset"}));
    EXPECT_EQ(exported(p), sorted({"Vn_TorvelFilter_Prop_Define", "Vn_TorvelFilter_Prop_DefineLayout",
                                   "VN_TorvelFilter_Prop_PPGEvent"}));
}

// A second copy of the module registers names that are already taken: the host refuses both items,
// and the load still succeeds.
TEST_F(Registration, LoadSucceedsWhenTheHostRefusesTheItems) {
    const torvel::test::TempDir tmp;
    const std::filesystem::path copy = tmp.path() / "poly_torvel_filer_copy.so";
    std::filesystem::copy_file(kPluginPath, copy);
    torvel::host::PluginLibrary* loaded = nullptr;
    EXPECT_NO_THROW(loaded = &host().plugins().load(copy));
    if (loaded) {
        EXPECT_TRUE(loaded->items().empty());
        // Two refusals are the host's own warnings.
        const std::vector<LogLine> lines = log_lines();
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(), [](const LogLine& l) { return l.first == XSI::siWarningMsg; }),
            2);
        host().plugins().unload(copy.wstring());
    }
}

TEST_F(Registration, LoadingInitialisesTheFilterAndCreatesTheSettingsProperty) {
    host().plugins().unload(kPluginName);
    host().new_scene();
    host().log().clear();

    host().plugins().load(kPluginPath);
    EXPECT_EQ(take_log(), std::vector<LogLine>{info(L"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter")});
    const XSI::CRef prop = host().resolve(L"Scene_Root.Vn_TorvelFilter_Prop");
    ASSERT_TRUE(prop.IsValid());
    EXPECT_EQ(XSI::ProjectItem(prop).GetParameterValue(L"def"), XSI::CValue(45.0));
}

// Counts SIAddProp runs and checks each one's arguments, then lets the host's command do the work.
class InitScript : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        const torvel::host::CommandFn original = *host().commands().find(L"SIAddProp");
        host().commands().add(L"SIAddProp",
                              [this, original](const torvel::host::ScriptArgs& args) {
                                  ++runs_;
                                  EXPECT_EQ(args.size(), 3u);
                                  EXPECT_EQ(args.string(0), L"Vn_TorvelFilter_Prop");
                                  EXPECT_EQ(args.string(1), L"Scene_Root");
                                  EXPECT_EQ(args.raw(2).kind, torvel::host::ScriptArg::Kind::identifier);
                                  EXPECT_EQ(args.raw(2).text, L"siDefaultPropagation");
                                  if (fail_) throw torvel::host::ScriptError("SIAddProp refused for the test");
                                  original(args);
                              });
    }
    int runs_ = 0;
    bool fail_ = false;
};

TEST_F(InitScript, AddsThePropertyOnlyWhenItsOwnLookupFindsNone) {
    const std::size_t scripts = host().script_runs().size();
    EXPECT_EQ(call(filter(), "Init").status.GetCode(), XSI::CStatus::OK);
    EXPECT_EQ(runs_, 1);
    EXPECT_TRUE(host().resolve(L"Vn_TorvelFilter_Prop").IsValid());
    ASSERT_EQ(host().script_runs().size(), scripts + 1);
    const std::wstring line = L"SIAddProp \"Vn_TorvelFilter_Prop\",\"Scene_Root\" , siDefaultPropagation";
    EXPECT_EQ(line.size(), 68u);
    EXPECT_EQ(host().script_runs().back().code, line);
    EXPECT_EQ(host().script_runs().back().language, L"VBScript");

    EXPECT_EQ(call(filter(), "Init").status.GetCode(), XSI::CStatus::OK);
    EXPECT_EQ(runs_, 1);
    EXPECT_EQ(host().root().properties.size(), 1u);
    EXPECT_EQ(take_log(), (std::vector<LogLine>{info(L"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter"),
                                                info(L"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter")}));

    // The lookup is made afresh: once the property is gone, the next Init adds it again.
    host().new_scene();
    call(filter(), "Init");
    EXPECT_EQ(runs_, 2);
}

TEST_F(InitScript, FailingScriptChangesNothingForInit) {
    fail_ = true;
    const Result r = call(filter(), "Init");
    EXPECT_TRUE(r.called);
    EXPECT_EQ(r.status.GetCode(), XSI::CStatus::OK);
    EXPECT_EQ(runs_, 1);
    const std::vector<LogLine> lines = take_log();
    ASSERT_EQ(lines.size(), 2u);  // Init's own line, then the host's report of the script error
    EXPECT_EQ(lines[0], info(L"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter"));
    EXPECT_EQ(lines[1].first, XSI::siErrorMsg);
}

TEST_F(Registration, EachLifecycleCallbackLogsItsPrefixAndTheFilterName) {
    add_settings();  // so that Init runs no script
    const std::pair<const char*, std::wstring> cases[] = {
        {"Init", L"Initiializing C++ Vn_TorvelFilter :"},
        {"Unload", L"Unloading C++ Vn_TorvelFilter: "},
        {"Reload", L"Reloading C++ Vn_TorvelFilter: "},
        {"Term", L"Terminating C++ Vn_TorvelFilter:"},
    };
    for (const auto& [callback, prefix] : cases) {
        const Result named = call(filter(), callback);
        EXPECT_EQ(named.status.GetCode(), XSI::CStatus::OK) << callback;
        EXPECT_EQ(take_log(), std::vector<LogLine>{info(prefix + L"Vn_TorvelFilter")}) << callback;

        // A source that is not a filter has no name: the line is the prefix alone.
        Request unnamed;
        unnamed.source = host().scene_root();
        EXPECT_EQ(call(filter(), callback, unnamed).status.GetCode(), XSI::CStatus::OK) << callback;
        EXPECT_EQ(take_log(), std::vector<LogLine>{info(prefix)}) << callback;
    }
    EXPECT_EQ(host().root().properties.size(), 1u);
}

TEST_F(Registration, UnloadLogsResetsTheSelectionFilterAndRedraws) {
    host().set_selection_filter(L"Object");
    const int redraws = host().redraw_count();
    host().plugins().unload(kPluginName);
    EXPECT_EQ(take_log(), (std::vector<LogLine>{info(L"Unloading C++ Vn_TorvelFilter: Vn_TorvelFilter"),
                                                info(L"C++ Torvel Filter Plug-in has been unloaded.")}));
    ASSERT_FALSE(host().script_runs().empty());
    EXPECT_EQ(host().script_runs().back().code, L"SetSelFilter \"PolygonMesh\"");
    EXPECT_EQ(host().script_runs().back().language, L"VBScript");
    EXPECT_EQ(host().selection_filter(), L"PolygonMesh");
    EXPECT_EQ(host().redraw_count(), redraws + 1);
}

TEST_F(Registration, UnloadRedrawsEvenWhenTheScriptFails) {
    host().commands().add(L"SetSelFilter", [](const torvel::host::ScriptArgs& args) {
        EXPECT_EQ(args.size(), 1u);
        EXPECT_EQ(args.string(0), L"PolygonMesh");
        throw torvel::host::ScriptError("SetSelFilter refused for the test");
    });
    host().set_selection_filter(L"Object");
    const int redraws = host().redraw_count();
    host().plugins().unload(kPluginName);
    const std::vector<LogLine> lines = take_log();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], info(L"C++ Torvel Filter Plug-in has been unloaded."));
    EXPECT_EQ(lines[2].first, XSI::siErrorMsg);  // the host's report; nothing from the plug-in after it
    EXPECT_EQ(host().selection_filter(), L"Object");
    EXPECT_EQ(host().redraw_count(), redraws + 1);
}

TEST_F(Registration, ReloadAndShutdownLogTheirLines) {
    add_settings();
    host().plugins().reload(kPluginName);
    EXPECT_EQ(take_log(), (std::vector<LogLine>{info(L"Reloading C++ Vn_TorvelFilter: Vn_TorvelFilter"),
                                                info(L"C++ Torvel Filter Plug-in has been unloaded."),
                                                info(L"Initiializing C++ Vn_TorvelFilter :Vn_TorvelFilter")}));
    host().plugins().shutdown();
    EXPECT_EQ(take_log(), (std::vector<LogLine>{info(L"Terminating C++ Vn_TorvelFilter:Vn_TorvelFilter"),
                                                info(L"C++ Torvel Filter Plug-in has been unloaded.")}));
}

}  // namespace
