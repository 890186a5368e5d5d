// Where the plug-in is looked for: beside the program, and beside the shared object that holds this
// library (the Python module, installed with the plug-in beside it in its package's folder).
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "torvel/torvel.h"

namespace torvel {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPluginFile = "poly_torvel_filer.so";

// Where a build tree or an installation puts the plug-in, relative to the folder of torvel.
void add_candidates(const fs::path& dir, std::vector<fs::path>& files) {
    std::vector<fs::path> dirs{dir, dir / ".." / "plugin", dir / ".." / TORVEL_INSTALL_LIBDIR};
    if (fs::path(TORVEL_INSTALL_LIBDIR) != "lib") dirs.push_back(dir / ".." / "lib");
    for (const fs::path& d : dirs) {
        fs::path file = (d / kPluginFile).lexically_normal();
        if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(std::move(file));
    }
}

// The file of the shared object (or program) this function was linked into.
std::optional<fs::path> library_file() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&library_file), &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return std::nullopt;
    std::error_code ec;
    fs::path file = fs::weakly_canonical(info.dli_fname, ec);
    if (ec) return std::nullopt;
    return file;
}

}  // namespace

fs::path find_plugin(const std::optional<fs::path>& explicit_path) {
    if (explicit_path) {
        if (explicit_path->empty()) throw UsageError("the plug-in path is empty");
        return *explicit_path;
    }
    if (const char* env = std::getenv("TORVEL_PLUGIN"); env && *env) return env;

    // The program's and this library's own locations, never the working folder: a plug-in dropped into
    // the current folder must not be picked up by accident.
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    const std::optional<fs::path> library = library_file();
    if (ec && !library)
        throw Error(
            "cannot find the plug-in: /proc/self/exe: " + ec.message() + " (use --plugin PATH or TORVEL_PLUGIN)",
            ErrorCode::plugin_load);
    std::vector<fs::path> files;
    if (!ec) add_candidates(exe.parent_path(), files);
    if (library) add_candidates(library->parent_path(), files);
    std::string looked;
    for (const fs::path& file : files) {
        if (fs::is_regular_file(file, ec)) return file;
        looked += (looked.empty() ? "" : ", ") + file.string();
    }
    throw Error(std::string("cannot find the plug-in ") + kPluginFile + " (looked for " + looked +
                    "); use --plugin PATH or set TORVEL_PLUGIN",
                ErrorCode::plugin_load);
}

}  // namespace torvel
