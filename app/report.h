// What torvel prints as text: the check results and the plug-in description.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include "app.h"

namespace torvel::app {

using Json = nlohmann::ordered_json;  // keys stay in the order they are documented

// What a run of more than one file adds up to.
struct CheckTotals {
    std::size_t checked = 0;     // files checked
    std::size_t non_planar = 0;  // of those, files with a non-planar polygon
    std::uint64_t polygons = 0;  // non-planar polygons in all those files
    std::size_t failed = 0;      // files that could not be checked
};

// "PATH: K of N polygons non-planar at T°[: I, J-K]"
std::string check_line(const FileReport& result, double tolerance);
// "  NAME: K of N polygons non-planar[: I, J-K]" per object, each ending in a newline; empty for a file of
// fewer than two objects.
std::string object_lines(const FileReport& result);
// "summary: 3 files checked, 2 with non-planar polygons, 5 non-planar polygons in all, 1 could not be
// checked" (singular where a count is 1).
std::string check_summary(const CheckTotals& totals);
// The plug-in's description as `torvel plugin-info` prints it, from Session::plugin_info_json's document.
std::string plugin_info_text(const Json& info, const std::string& path);

// JSON text; text that is not valid UTF-8 (file names) is written with U+FFFD, never an exception.
std::string json_text(const Json& value, int indent = -1);

}  // namespace torvel::app
