// torvel.toml: the settings of a check kept beside the meshes. Options given on the command line win over
// the file's.
//
//   tolerance = 30               degrees, 0 to 90
//   max-distance = 0.01          model units, >= 0 (TV003)
//   exclude = ["build/**"]       globs, relative to the file's folder
//   jobs = 4                     1 to 1024
//   format = "sarif"             text, json, sarif, junit, github
//   [[override]]                 later tables win over earlier ones
//   paths = ["facades/**"]       globs (at least one), relative to the file's folder
//   tolerance = 10               and/or max-distance
//
// Globs: `*` any characters but '/', `**` any characters ('/' included; "**/" also none), `?` one
// character but '/', `[abc]`, `[a-z]`, `[!a]` a set; every other character is itself.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace torvel::findings {

// An unreadable, unparsable or wrong torvel.toml. what(): "FILE:LINE: ..." naming the key where there is one.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Override {
    std::vector<std::string> paths;
    std::optional<double> tolerance;
    std::optional<double> max_distance;
};

struct Config {
    std::filesystem::path file;  // the file read; its folder is what globs are relative to
    std::optional<double> tolerance;
    std::optional<double> max_distance;
    std::vector<std::string> exclude;
    std::optional<unsigned> jobs;
    std::optional<std::string> format;
    std::vector<Override> overrides;
};

inline constexpr std::string_view kConfigName = "torvel.toml";

// torvel.toml in `folder` or the nearest folder above it (made absolute first); empty when none.
std::optional<std::filesystem::path> find_config(const std::filesystem::path& folder);

// The text of a configuration file named `file` (for messages and the globs' folder). Throws ConfigError.
Config parse_config(std::string_view text, const std::filesystem::path& file);
// Reads and parses `file`. Throws ConfigError (a file that cannot be read names its reason).
Config load_config(const std::filesystem::path& file);

// True when `path` ('/'-separated) matches `glob` as a whole.
bool glob_match(std::string_view glob, std::string_view path);

// `mesh` as a '/'-separated path relative to the configuration file's folder; empty when it lies outside.
std::string config_relative(const Config& config, const std::filesystem::path& mesh);

// True when the mesh matches an exclude glob.
bool excluded(const Config& config, const std::filesystem::path& mesh);

// The tolerance and max-distance for one mesh: the last override whose paths match it, key by key, else the
// file's top level.
struct MeshSettings {
    std::optional<double> tolerance;
    std::optional<double> max_distance;
};
MeshSettings settings_for(const Config& config, const std::filesystem::path& mesh);

}  // namespace torvel::findings
