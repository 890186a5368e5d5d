// What check and fix share about one file's scene: the plug-in loaded for it and the tolerance set.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host.h"

namespace torvel::app {

// The plug-in loaded into `host` for one file. Every exit, also by an exception, runs each filter's
// Term and XSIUnloadPlugin (a failure there is printed, not thrown).
class LoadedPlugin {
public:
    LoadedPlugin(host::Host& host, const std::filesystem::path& path);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

private:
    host::Host& host_;
};

// Sets the settings property's tolerance when `requested` is given and returns the value the filter
// will read. Throws std::runtime_error when the plug-in made no such parameter or refuses the value.
// The host must be bound (HostScope).
double settings_tolerance(host::Host& host, const std::optional<double>& requested);

// Why torvel cannot write `out` ("torvel cannot write '.stl' files (it writes .obj, .ply and .off)"), or
// nothing when its extension names a format torvel writes.
std::optional<std::string> unwritable_format(const std::filesystem::path& out);
// Throws UsageError for an -o OUT whose extension names no format torvel writes.
void refuse_unwritable_format(const std::filesystem::path& out);

}  // namespace torvel::app
