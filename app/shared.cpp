// What several subcommands need besides the library: the plug-in of --plugin, the formats -o writes.

#include "app.h"
#include "mesh_io.h"

namespace torvel::app {

std::optional<std::string> unwritable_format(const std::filesystem::path& out) {
    if (io::format_named(out)) return std::nullopt;
    const std::string ext = out.extension().string();
    return "torvel cannot write " + (ext.empty() ? "a file without an extension" : "'" + ext + "' files") +
           " (it writes .obj, .ply and .off)";
}

void refuse_unwritable_format(const std::filesystem::path& out) {
    if (const auto why = unwritable_format(out)) throw UsageError("-o " + out.string() + ": " + *why);
}

fs::path find_plugin(const std::optional<std::string>& explicit_path) {
    return torvel::find_plugin(explicit_path ? std::optional<fs::path>(*explicit_path) : std::nullopt);
}

}  // namespace torvel::app
