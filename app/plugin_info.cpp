// torvel plugin-info: what a plug-in registers, as the loader found it, and the property it defines; and
// torvel --version, which names the plug-in too.
#include <iostream>

#include "app.h"
#include "host.h"
#include "report.h"

namespace torvel::app {

int run_plugin_info(const PluginInfoOptions& o) {
    RunFiles files;
    host::Host h;
    LogSink log(h.log(), o.log, files);
    Json info;
    fs::path path;
    try {
        path = find_plugin(o.plugin);
        files.add_input(path, role::plugin);
        files.refuse_clashes();
        const host::PluginLibrary& lib = h.plugins().load(path);
        // The page is built as a host builds it before showing the property.
        for (const XSI::CRef& prop : h.root().properties) h.define_layout(prop);
        info = plugin_info(h, lib);
    } catch (...) {
        h.plugins().shutdown();
        log.finish_after_error();
        throw;
    }
    h.plugins().shutdown();
    log.finish();
    std::cout << (o.json ? json_text(info, 2) + "\n" : plugin_info_text(info, path.string()));
    return kExitClean;
}

int run_version() {
    std::cout << "torvel " << TORVEL_VERSION << std::endl;
    host::Host h;
    fs::path path;
    std::string plugin;
    try {
        path = find_plugin(std::nullopt);
        const host::PluginLibrary& lib = h.plugins().load(path);
        const auto* reg = h.store().find_as<host::RegistrarObject>(lib.registrar());
        plugin = to_utf8(lib.name()) + " " +
                 (reg ? std::to_string(reg->version_major) + "." + std::to_string(reg->version_minor)
                      : std::string("(no version)"));
        h.plugins().shutdown();
    } catch (const std::exception& e) {
        std::cerr << "torvel: the plug-in could not be loaded: " << e.what() << '\n';
        return kExitError;
    }
    std::cout << "plug-in: " << plugin << " (" << path.string() << ")\n";
    return kExitClean;
}

}  // namespace torvel::app
