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

// One object of a checked file: its name in the scene, its polygons, the non-planar ones among them.
struct ObjectResult {
    std::string name;  // as the scene names it
    std::uint32_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending, within the object
    std::string source_name;                // as the file names it; empty when it does not (JSON null)
};

struct FileResult {
    std::string path;  // as given on the command line
    std::uint32_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending; the file's polygons: its objects one after another
    std::vector<ObjectResult> objects;      // in file order
    std::string precision = "double";       // "double" or "single": how the reader kept coordinates
};

// A file that could not be checked (or an output that could not be written), with its message as on
// stderr without "torvel: ".
struct FileFailure {
    std::string path;
    std::string message;
    ErrorCode code = ErrorCode::internal;
};

// What a run of more than one file adds up to.
struct CheckTotals {
    std::size_t checked = 0;     // files checked
    std::size_t non_planar = 0;  // of those, files with a non-planar polygon
    std::uint64_t polygons = 0;  // non-planar polygons in all those files
    std::size_t failed = 0;      // files that could not be checked
};

// "PATH: K of N polygons non-planar at T°[: I, J-K]"
std::string check_line(const FileResult& result, double tolerance);
// "  NAME: K of N polygons non-planar[: I, J-K]" per object, each ending in a newline; empty for a file of
// fewer than two objects.
std::string object_lines(const FileResult& result);
// "summary: 3 files checked, 2 with non-planar polygons, 5 non-planar polygons in all, 1 could not be
// checked" (singular where a count is 1).
std::string check_summary(const CheckTotals& totals);
// {"tolerance": T, "files": [{"path", "polygons", "non_planar", "objects": [{"name", "polygons",
// "non_planar"}], "precision"}], "errors": [{"path", "message", "code"}]}, compact, as one line of text. The
// members of file_fields[i] (when given) follow results[i]'s own, and those of run_fields follow "errors".
std::string check_json_text(double tolerance, std::span<const FileResult> results,
                            std::span<const FileFailure> failures, std::span<const Json> file_fields = {},
                            const Json& run_fields = Json::object());

// The loaded library's identity, items and callbacks, and its settings property as it stands in the
// current scene (null when the scene holds none).
Json plugin_info(const host::Host& host, const host::PluginLibrary& library);
std::string plugin_info_text(const Json& info, const std::string& path);

// JSON text; text that is not valid UTF-8 (file names) is written with U+FFFD, never an exception.
std::string json_text(const Json& value, int indent = -1);

}  // namespace torvel::app
