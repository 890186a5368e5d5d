// torvel: the command line. Every failure ends here as a message on stderr and exit code 2.
#include <charconv>
#include <cmath>
#include <iostream>

#include <CLI/CLI.hpp>

#include "app.h"

namespace {

using namespace torvel::app;

double parse_tolerance(const std::string& text) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value))
        throw UsageError("-t/--tolerance: \"" + text + "\" is not a number of degrees (0 to 90)");
    if (value < 0 || value > 90) throw UsageError("-t/--tolerance: " + text + " is outside the range 0 to 90 degrees");
    return value;
}

std::size_t parse_jobs(const std::string& text) {
    std::size_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value < 1 || value > 1024)
        throw UsageError("-j/--jobs: \"" + text + "\" is not a number of worker processes (1 to 1024)");
    return value;
}

struct CommonOptions {
    std::string plugin, log;
    bool verbose = false;

    void add_to(CLI::App& cmd, bool with_plugin) {
        if (with_plugin)
            cmd.add_option(
                "--plugin", plugin,
                "the plug-in library to load (default: $TORVEL_PLUGIN, else the one installed beside torvel)");
        cmd.add_option("--log", log, "write the whole host log to FILE as JSON Lines");
        cmd.add_flag("-v,--verbose", verbose, "echo each log message to stderr as it is logged");
    }
    LogSink::Options log_options(const CLI::App& cmd) const {
        LogSink::Options o;
        if (cmd.count("--log")) o.file = log;
        o.verbose = verbose;
        return o;
    }
    std::optional<std::string> plugin_option(const CLI::App& cmd) const {
        return cmd.count("--plugin") ? std::optional<std::string>(plugin) : std::nullopt;
    }
};

int run(int argc, char** argv) {
    CLI::App app{"torvel: runs the poly_torvel_filer selection filter on mesh files and host scripts"};
    app.require_subcommand(1);

    CheckOptions check;
    CommonOptions check_common;
    std::string tolerance, format = "text", output;
    CLI::App* check_cmd = app.add_subcommand("check", "report the non-planar polygons of each mesh (exit 1 when any)");
    check_cmd->add_option("MESH", check.meshes, "mesh files (.obj, .ply or .off), or folders to search for them")
        ->required();
    check_cmd->add_option("-t,--tolerance", tolerance, "tolerance in degrees, 0 to 90 (default: the property's, 45)");
    check_cmd->add_option("--format", format, "text or json")->check(CLI::IsMember({"text", "json"}));
    check_cmd->add_option("-o,--output", output, "write the mesh with its non-planar polygons marked (one MESH only)");
    std::string jobs;
    check_cmd->add_option("-j,--jobs", jobs, "check files in N worker processes (default: one per core)");
    check_cmd->add_flag("-q,--quiet", check.quiet, "print nothing on stdout; the exit code tells");
    check_cmd->add_flag("-l,--files-with-non-planar", check.list_non_planar,
                        "print only the paths of the files that have non-planar polygons");
    check_common.add_to(*check_cmd, true);

    ScriptOptions script;
    CommonOptions script_common;
    std::string script_file;
    CLI::App* script_cmd = app.add_subcommand("script", "run host command lines from FILE, - (stdin) or -c");
    script_cmd->add_option("FILE", script_file, "script file, or - for standard input");
    script_cmd->add_option("-c,--command", script.lines, "command lines to run, one per argument");
    script_common.add_to(*script_cmd, true);

    PluginInfoOptions info;
    CommonOptions info_common;
    std::string info_format = "text", info_path;
    CLI::App* info_cmd = app.add_subcommand("plugin-info", "describe a plug-in: identity, items, callbacks, property");
    info_cmd->add_option("PATH", info_path, "the plug-in library (default: as for check)");
    info_cmd->add_option("--format", info_format, "text or json")->check(CLI::IsMember({"text", "json"}));
    info_common.add_to(*info_cmd, false);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::cerr << "torvel: " << e.what() << "\nRun 'torvel --help' for usage.\n";
        return kExitError;
    }

    if (check_cmd->parsed()) {
        if (check_cmd->count("--tolerance")) check.tolerance = parse_tolerance(tolerance);
        if (check_cmd->count("--jobs")) check.jobs = parse_jobs(jobs);
        check.json = format == "json";
        if (check_cmd->count("--output")) check.output = output;
        check.plugin = check_common.plugin_option(*check_cmd);
        check.log = check_common.log_options(*check_cmd);
        return run_check(check);
    }
    if (script_cmd->parsed()) {
        if (script_cmd->count("FILE")) script.file = script_file;
        script.plugin = script_common.plugin_option(*script_cmd);
        script.log = script_common.log_options(*script_cmd);
        return run_script_command(script);
    }
    if (info_cmd->count("PATH")) info.plugin = info_path;
    info.json = info_format == "json";
    info.log = info_common.log_options(*info_cmd);
    return run_plugin_info(info);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "torvel: " << e.what() << "\nRun 'torvel --help' for usage.\n";
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
    }
    return kExitError;
}
