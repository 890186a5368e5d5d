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
    std::string info;
    fs::path path;
    try {
        path = find_plugin(o.plugin);
        files.add_input(path, role::plugin);
        files.refuse_clashes();
        torvel::SessionOptions options;
        options.plugin = path;
        options.log = [&h](const torvel::LogLine& line) {
            h.log().add(static_cast<XSI::siSeverityType>(line.severity), from_utf8(line.text));
        };
        info = torvel::Session(std::move(options)).plugin_info_json();
    } catch (...) {
        log.finish_after_error();
        throw;
    }
    log.finish();
    std::cout << (o.json ? info + "\n" : plugin_info_text(Json::parse(info), path.string()));
    return kExitClean;
}

int run_version() {
    std::cout << "torvel " << torvel::version() << std::endl;
    fs::path path;
    std::string plugin;
    try {
        torvel::Session session;
        path = session.plugin();
        const Json info = Json::parse(session.plugin_info_json());
        const Json& version = info["version"];
        plugin =
            info["name"].get<std::string>() + " " +
            (version.is_array() ? json_text(version[0]) + "." + json_text(version[1]) : std::string("(no version)"));
    } catch (const std::exception& e) {
        std::cerr << "torvel: the plug-in could not be loaded: " << e.what() << '\n';
        return kExitError;
    }
    std::cout << "plug-in: " << plugin << " (" << path.string() << ")\n";
    return kExitClean;
}

}  // namespace torvel::app
