#include "config.h"

#include "file_text.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include <toml++/toml.h>

namespace torvel::findings {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFormats[] = {"text", "json", "sarif", "junit", "github"};

class Reader {
public:
    explicit Reader(const fs::path& file) : file_(file.string()) {}

    [[noreturn]] void fail(const toml::node& at, std::string_view key, const std::string& what) const {
        throw ConfigError(file_ + ":" + std::to_string(at.source().begin.line) + ": " + std::string(key) + ": " + what);
    }

    double number(const toml::node& node, std::string_view key, double low, double high) const {
        if (!node.is_number()) fail(node, key, "expected a number, got " + type_name(node));
        const double value = *node.value<double>();
        if (!(value >= low && value <= high) || std::isnan(value))
            fail(node, key, "out of range (" + range_text(low, high) + ")");
        return value;
    }

    std::vector<std::string> globs(const toml::node& node, std::string_view key) const {
        const toml::array* array = node.as_array();
        if (!array) fail(node, key, "expected an array of glob strings, got " + type_name(node));
        std::vector<std::string> out;
        for (const toml::node& entry : *array) {
            if (!entry.is_string()) fail(entry, key, "expected a glob string, got " + type_name(entry));
            std::string glob = *entry.value<std::string>();
            if (glob.empty()) fail(entry, key, "an empty glob matches nothing");
            out.push_back(std::move(glob));
        }
        return out;
    }

    std::string format(const toml::node& node, std::string_view key) const {
        if (!node.is_string()) fail(node, key, "expected a string, got " + type_name(node));
        const std::string value = *node.value<std::string>();
        for (const std::string_view known : kFormats)
            if (value == known) return value;
        fail(node, key, "unknown format \"" + value + "\" (text, json, sarif, junit or github)");
    }

    unsigned jobs(const toml::node& node, std::string_view key) const {
        if (!node.is_integer()) fail(node, key, "expected an integer, got " + type_name(node));
        const std::int64_t value = *node.value<std::int64_t>();
        if (value < 1 || value > 1024) fail(node, key, "out of range (1 to 1024)");
        return static_cast<unsigned>(value);
    }

    Override override_table(const toml::table& table, std::string_view key) const {
        Override out;
        for (auto&& [name, node] : table) {
            const std::string full = std::string(key) + "." + std::string(name.str());
            if (name == "paths")
                out.paths = globs(node, full);
            else if (name == "tolerance")
                out.tolerance = number(node, full, 0, 90);
            else if (name == "max-distance")
                out.max_distance = number(node, full, 0, HUGE_VAL);
            else
                fail(node, full, "unknown key (an override takes paths, tolerance and max-distance)");
        }
        if (out.paths.empty()) fail(table, key, "an override needs paths = [\"GLOB\", ...]");
        return out;
    }

private:
    static std::string type_name(const toml::node& node) {
        std::ostringstream s;
        s << node.type();
        return s.str();
    }
    static std::string range_text(double low, double high) {
        std::ostringstream s;
        s << low;
        if (std::isinf(high)) return s.str() + " or more";
        s << " to " << high;
        return s.str();
    }

    std::string file_;
};

// Backtracking over every split a `*` or `**` allows: plenty fast for the short globs of a configuration.
bool match_from(std::string_view glob, std::string_view path) {
    std::size_t g = 0, p = 0;
    while (g < glob.size()) {
        if (glob.compare(g, 2, "**") == 0) {
            std::size_t rest = g + 2;
            const bool slash = rest < glob.size() && glob[rest] == '/';
            if (slash && match_from(glob.substr(rest + 1), path.substr(p))) return true;  // "**/" as nothing
            for (std::size_t q = p; q <= path.size(); ++q)
                if (match_from(glob.substr(rest), path.substr(q))) return true;
            return false;
        }
        const char c = glob[g];
        if (c == '*') {
            for (std::size_t q = p;; ++q) {
                if (match_from(glob.substr(g + 1), path.substr(q))) return true;
                if (q == path.size() || path[q] == '/') return false;
            }
        }
        if (p == path.size()) return false;
        if (c == '?') {
            if (path[p] == '/') return false;
        } else if (c == '[' && glob.find(']', g + 2) != std::string_view::npos) {
            const std::size_t end = glob.find(']', g + 2);
            const bool negate = glob[g + 1] == '!';
            bool found = false;
            for (std::size_t k = g + 1 + negate; k < end; ++k) {
                if (k + 2 < end && glob[k + 1] == '-') {
                    found |= path[p] >= glob[k] && path[p] <= glob[k + 2];
                    k += 2;
                } else {
                    found |= path[p] == glob[k];
                }
            }
            if (found == negate || path[p] == '/') return false;
            g = end + 1;
            ++p;
            continue;
        } else if (c != path[p]) {
            return false;
        }
        ++g;
        ++p;
    }
    return p == path.size();
}

bool any_match(const std::vector<std::string>& globs, const std::string& path) {
    for (const std::string& glob : globs)
        if (glob_match(glob, path)) return true;
    return false;
}

}  // namespace

std::optional<fs::path> find_config(const fs::path& folder) {
    std::error_code ec;
    fs::path at = fs::absolute(folder, ec).lexically_normal();
    if (ec) return std::nullopt;
    while (true) {
        const fs::path candidate = at / kConfigName;
        if (fs::is_regular_file(candidate, ec)) return candidate;
        if (!at.has_relative_path()) return std::nullopt;
        at = at.parent_path();
    }
}

Config parse_config(std::string_view text, const fs::path& file) {
    toml::table table;
    try {
        table = toml::parse(text, file.string());
    } catch (const toml::parse_error& e) {
        throw ConfigError(file.string() + ":" + std::to_string(e.source().begin.line) + ": " +
                          std::string(e.description()));
    }
    const Reader reader(file);
    Config config;
    config.file = file;
    for (auto&& [key, node] : table) {
        const std::string_view name = key.str();
        if (name == "tolerance") {
            config.tolerance = reader.number(node, name, 0, 90);
        } else if (name == "max-distance") {
            config.max_distance = reader.number(node, name, 0, HUGE_VAL);
        } else if (name == "exclude") {
            config.exclude = reader.globs(node, name);
        } else if (name == "jobs") {
            config.jobs = reader.jobs(node, name);
        } else if (name == "format") {
            config.format = reader.format(node, name);
        } else if (name == "override") {
            const toml::array* tables = node.as_array();
            if (!tables || !tables->is_array_of_tables()) reader.fail(node, name, "expected [[override]] tables");
            for (const toml::node& entry : *tables)
                config.overrides.push_back(reader.override_table(*entry.as_table(), name));
        } else {
            reader.fail(node, name,
                        "unknown key (torvel.toml takes tolerance, max-distance, exclude, jobs, format and "
                        "[[override]])");
        }
    }
    return config;
}

Config load_config(const fs::path& file) { return parse_config(detail::file_text<ConfigError>(file), file); }

bool glob_match(std::string_view glob, std::string_view path) { return match_from(glob, path); }

std::string config_relative(const Config& config, const fs::path& mesh) {
    std::error_code ec;
    const fs::path folder = fs::absolute(config.file, ec).parent_path().lexically_normal();
    const fs::path absolute = fs::absolute(mesh, ec).lexically_normal();
    const fs::path relative = absolute.lexically_relative(folder);
    if (relative.empty() || *relative.begin() == "..") return {};
    return relative.generic_string();
}

bool excluded(const Config& config, const fs::path& mesh) {
    const std::string path = config_relative(config, mesh);
    return !path.empty() && any_match(config.exclude, path);
}

MeshSettings settings_for(const Config& config, const fs::path& mesh) {
    MeshSettings out{config.tolerance, config.max_distance};
    const std::string path = config_relative(config, mesh);
    if (path.empty()) return out;
    for (const Override& o : config.overrides) {
        if (!any_match(o.paths, path)) continue;
        if (o.tolerance) out.tolerance = o.tolerance;
        if (o.max_distance) out.max_distance = o.max_distance;
    }
    return out;
}

}  // namespace torvel::findings
