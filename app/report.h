// What torvel prints: the check results and the plug-in description, as text and as JSON.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <xsi_customproperty.h>

#include "host.h"
#include "plugin_registry.h"

namespace torvel::app {

using Json = nlohmann::ordered_json;  // keys stay in the order they are documented

struct FileResult {
    std::string path;  // as given on the command line
    std::uint32_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending
};

// "PATH: K of N polygons non-planar at T°[: I, J-K]"
std::string check_line(const FileResult& result, double tolerance);
// {"tolerance": T, "files": [{"path", "polygons", "non_planar"}]}, compact, as one line of text.
std::string check_json_text(double tolerance, std::span<const FileResult> results);

// The loaded library's identity, items and callbacks, and its settings property as it stands in the
// current scene (null when the scene holds none).
Json plugin_info(const host::Host& host, const host::PluginLibrary& library);
std::string plugin_info_text(const Json& info, const std::string& path);

// A parameter's range for messages: "0 to 90" ("none" for an open end).
std::string range_text(const XSI::Parameter& parameter);

// JSON text; text that is not valid UTF-8 (file names) is written with U+FFFD, never an exception.
std::string json_text(const Json& value, int indent = -1);

}  // namespace torvel::app
