// Fixture for the tests that load the built plug-in module into the in-process host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fresh_host.h"
#include "poly_torvel_filer/items.h"
#include "plugin_registry.h"
#include "test_meshes.h"

namespace torvel::test {

inline constexpr const char* kPluginPath = TORVEL_PLUGIN_PATH;
inline constexpr const wchar_t* kPluginName = L"C++ Torvel Filter Plug-in";

using LogLine = std::pair<XSI::siSeverityType, std::wstring>;

inline LogLine info(std::wstring text) { return {XSI::siInfoMsg, std::move(text)}; }

// Loads the module into the test's fresh host (which runs the filter's Init), then starts the test from
// an empty scene and an empty log. Tests that need the settings property add it themselves.
class PluginTest : public ::testing::Test {
protected:
    using Request = host::PluginRegistry::CallRequest;
    using Result = host::PluginRegistry::CallResult;

    void SetUp() override {
        host::Host& h = test::host();
        h.plugins().load(kPluginPath);
        h.new_scene();
        h.log().clear();
    }

    static const host::ItemInfo& filter() { return item(poly_torvel_filer::kFilterName); }
    static const host::ItemInfo& property() { return item(poly_torvel_filer::kPropertyName); }
    static const host::ItemInfo& item(const wchar_t* name) {
        const host::ItemInfo* found = test::host().plugins().find_item(name);
        EXPECT_NE(found, nullptr) << "no item registered";
        static const host::ItemInfo none;
        return found ? *found : none;
    }

    static Result call(const host::ItemInfo& target, const char* callback, const Request& request = {}) {
        return test::host().plugins().call(target, callback, request);
    }

    static std::vector<LogLine> log_lines() {
        std::vector<LogLine> lines;
        for (const host::LogEntry& e : test::host().log().entries()) lines.emplace_back(e.severity, e.text);
        return lines;
    }
    static std::vector<LogLine> take_log() {
        std::vector<LogLine> lines = log_lines();
        test::host().log().clear();
        return lines;
    }

    // The settings property under the scene root, defined through the plug-in, with "def" set.
    static XSI::CRef add_settings(double def = 45.0) {
        const XSI::CRef prop = test::host().add_property(poly_torvel_filer::kPropertyName, test::host().scene_root());
        if (def != 45.0) XSI::ProjectItem(prop).PutParameterValue(L"def", XSI::CValue(def));
        return prop;
    }
};

}  // namespace torvel::test
