// Fixture for the tests that load the built plug-in module into the in-process host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "loader.h"
#include "test_meshes.h"

namespace torvel::test {

inline constexpr const char* kPluginPath = TORVEL_PLUGIN_PATH;
inline constexpr const wchar_t* kPluginName = L"C++ Torvel Filter Plug-in";

using LogLine = std::pair<XSI::siSeverityType, std::wstring>;

inline LogLine info(std::wstring text) { return {XSI::siInfoMsg, std::move(text)}; }

// Loads the module (which runs the filter's Init), then starts each test from an empty scene and an
// empty log. Tests that need the settings property add it themselves.
class PluginTest : public ::testing::Test {
protected:
    using Request = host::PluginManager::CallRequest;
    using Result = host::PluginManager::CallResult;

    void SetUp() override {
        host::Host& h = host::host();
        if (!h.plugins().find_library(kPluginName)) h.plugins().load(kPluginPath);
        h.new_scene();
        h.log().clear();
    }
    void TearDown() override {
        host::Host& h = host::host();
        host::register_core_commands(h.commands());  // undo any replaced command
        if (h.plugins().find_library(kPluginName)) h.plugins().unload(kPluginName);
        h.new_scene();
        h.log().clear();
    }

    static const host::ItemInfo& filter() { return item(L"Vn_TorvelFilter"); }
    static const host::ItemInfo& property() { return item(L"Vn_TorvelFilter_Prop"); }
    static const host::ItemInfo& item(const wchar_t* name) {
        const host::ItemInfo* found = host::host().plugins().find_item(name);
        EXPECT_NE(found, nullptr) << "no item registered";
        static const host::ItemInfo none;
        return found ? *found : none;
    }

    static Result call(const host::ItemInfo& target, const char* callback, const Request& request = {}) {
        return host::host().plugins().call(target, callback, request);
    }

    static std::vector<LogLine> log_lines() {
        std::vector<LogLine> lines;
        for (const host::LogEntry& e : host::host().log().entries()) lines.emplace_back(e.severity, e.text);
        return lines;
    }
    static std::vector<LogLine> take_log() {
        std::vector<LogLine> lines = log_lines();
        host::host().log().clear();
        return lines;
    }

    // The settings property under the scene root, defined through the plug-in, with "def" set.
    static XSI::CRef add_settings(double def = 45.0) {
        const XSI::CRef prop = host::host().add_property(L"Vn_TorvelFilter_Prop", host::host().scene_root());
        if (def != 45.0) XSI::ProjectItem(prop).PutParameterValue(L"def", XSI::CValue(def));
        return prop;
    }
};

}  // namespace torvel::test
