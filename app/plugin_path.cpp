#include <cstdlib>
#include <system_error>

#include "app.h"

namespace torvel::app {

namespace {

constexpr const char* kPluginFile = "poly_torvel_filer.so";

// Where a build tree or an installation puts the plug-in, relative to the directory of torvel.
std::vector<fs::path> candidates(const fs::path& exe_dir) {
    std::vector<fs::path> dirs{exe_dir, exe_dir / ".." / "plugin", exe_dir / ".." / TORVEL_INSTALL_LIBDIR};
    if (fs::path(TORVEL_INSTALL_LIBDIR) != "lib") dirs.push_back(exe_dir / ".." / "lib");
    std::vector<fs::path> files;
    for (const fs::path& d : dirs) files.push_back((d / kPluginFile).lexically_normal());
    return files;
}

}  // namespace

fs::path find_plugin(const std::optional<std::string>& explicit_path) {
    if (explicit_path) {
        if (explicit_path->empty()) throw UsageError("the plug-in path is empty");
        return *explicit_path;
    }
    if (const char* env = std::getenv("TORVEL_PLUGIN"); env && *env) return env;

    // The executable's own location, never the working directory: a plug-in dropped into the
    // current directory must not be picked up by accident.
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw Error(
            "cannot find the plug-in: /proc/self/exe: " + ec.message() + " (use --plugin PATH or TORVEL_PLUGIN)",
            ErrorCode::plugin_load);
    std::string looked;
    for (const fs::path& file : candidates(exe.parent_path())) {
        if (fs::is_regular_file(file, ec)) return file;
        looked += (looked.empty() ? "" : ", ") + file.string();
    }
    throw Error(std::string("cannot find the plug-in ") + kPluginFile + " (looked for " + looked +
                    "); use --plugin PATH or set TORVEL_PLUGIN",
                ErrorCode::plugin_load);
}

}  // namespace torvel::app
