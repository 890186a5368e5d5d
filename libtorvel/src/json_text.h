// The JSON texts of the library (torvel.h's file_json, check_json, fix_json, Session::plugin_info_json),
// built with nlohmann's ordered JSON so that keys stay in their documented order.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "host.h"
#include "plugin_registry.h"

namespace torvel {

using Json = nlohmann::ordered_json;

// JSON text; text that is not valid UTF-8 (file names) is written with U+FFFD, never an exception.
std::string json_text(const Json& value, int indent = -1);

// The loaded library's identity, items and callbacks, and its settings property as it stands in the
// current scene (null when the scene holds none).
Json plugin_info(const host::Host& host, const host::PluginLibrary& library);

}  // namespace torvel
