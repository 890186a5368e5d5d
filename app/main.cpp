// torvel: the command line. Every failure ends here as a message on stderr and exit code 2.
#include <charconv>
#include <cmath>
#include <iostream>

#include <CLI/CLI.hpp>

#include "app.h"
#include "mesh_load.h"

namespace {

using namespace torvel::app;

double parse_tolerance(const std::string& text) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value))
        throw UsageError("-t/--tolerance: \"" + text + "\" is not a number of degrees (0 to 90)");
    if (value < 0 || value > 90) throw UsageError("-t/--tolerance: " + text + " is outside the range 0 to 90 degrees");
    return value + 0.0;  // -0 becomes 0: the tolerance is shown, and written to JSON, as the user means it
}

std::size_t parse_jobs(const std::string& text) {
    std::size_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value < 1 || value > 1024)
        throw UsageError("-j/--jobs: \"" + text + "\" is not a number of worker processes (1 to 1024)");
    return value;
}

// --import-timeout and --import-memory: the limits of each import through Assimp.
struct ImportOptions {
    std::string seconds, megabytes;

    void add_to(CLI::App& cmd) {
        cmd.add_option("--import-timeout", seconds, "give up on a file Assimp reads after SECONDS (default: 60)")
            ->type_name("SECONDS");
        cmd.add_option("--import-memory", megabytes,
                       "give up on a file Assimp reads when it needs more than MB megabytes (default: half the "
                       "memory, " +
                           std::to_string(torvel::importer::default_megabytes()) + ")")
            ->type_name("MB");
    }
    torvel::importer::Limits limits(const CLI::App& cmd) const {
        torvel::importer::Limits l;
        if (cmd.count("--import-timeout")) {
            double value = 0;
            const auto [ptr, ec] = std::from_chars(seconds.data(), seconds.data() + seconds.size(), value);
            if (seconds.empty() || ec != std::errc() || ptr != seconds.data() + seconds.size() ||
                !std::isfinite(value) || value <= 0 || value > 1e6)
                throw UsageError("--import-timeout: \"" + seconds + "\" is not a number of seconds (above 0, " +
                                 "at most 1000000)");
            l.seconds = value;
        }
        if (cmd.count("--import-memory")) {
            std::uint64_t value = 0;
            const auto [ptr, ec] = std::from_chars(megabytes.data(), megabytes.data() + megabytes.size(), value);
            if (megabytes.empty() || ec != std::errc() || ptr != megabytes.data() + megabytes.size() || value < 1 ||
                value > (1ull << 40))
                throw UsageError("--import-memory: \"" + megabytes + "\" is not a number of megabytes (1 or more)");
            l.megabytes = value;
        }
        return l;
    }
};

std::size_t parse_top(const std::string& text) {
    std::size_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value < 1)
        throw UsageError("--top: \"" + text + "\" is not a number of polygons (1 or more)");
    return value;
}

struct CommonOptions {
    std::string plugin, log;
    bool verbose = false;

    void add_to(CLI::App& cmd, bool with_plugin) {
        if (with_plugin)
            cmd.add_option(
                   "--plugin", plugin,
                   "the plug-in library to load (default: $TORVEL_PLUGIN, else the one installed beside torvel)")
                ->type_name("PATH");
        cmd.add_option("--log", log, "write the whole host log to FILE as JSON Lines")->type_name("FILE");
        cmd.add_flag("-v,--verbose", verbose, "echo each log message to stderr as it is logged");
    }
    LogSink::Options log_options(const CLI::App& cmd) const {
        LogSink::Options o;
        if (cmd.count("--log")) o.file = log;
        o.verbose = verbose;
        return o;
    }
    std::optional<std::string> plugin_option(const CLI::App& cmd) const {
        if (!cmd.count("--plugin")) return std::nullopt;
        if (plugin.empty()) throw UsageError("--plugin: the path is empty");
        return plugin;
    }
};

// The hint after a usage error: the help of the subcommand it was made in.
std::string usage_hint(const CLI::App* subcommand) {
    return "Run 'torvel " + (subcommand ? subcommand->get_name() + " " : std::string()) + "--help' for usage.";
}

// The first argument that is not an option names the subcommand (torvel's own options take no value).
std::optional<std::string> unknown_subcommand(int argc, char** argv, const CLI::App& app) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty() || arg.front() != '-') {
            for (const CLI::App* sub : app.get_subcommands({}))
                if (sub->get_name() == arg) return std::nullopt;
            return arg;
        }
    }
    return std::nullopt;
}

int run(int argc, char** argv) {
    CLI::App app{"torvel: runs the poly_torvel_filer selection filter on mesh files and host scripts", "torvel"};
    app.require_subcommand(0, 1);  // none with --version; otherwise one, checked below
    bool version = false;
    app.add_flag("--version", version, "print the version of torvel and of the plug-in it loads, then exit");

    CheckOptions check;
    CommonOptions check_common;
    std::string tolerance, format = "text", output;
    CLI::App* check_cmd = app.add_subcommand("check", "report the non-planar polygons of each mesh (exit 1 when any)");
    check_cmd
        ->add_option("MESH", check.meshes,
                     "mesh files (any format listed below), or folders to search for .obj, .ply and .off files")
        ->required()
        ->type_name("");
    check_cmd->add_option("-t,--tolerance", tolerance, "tolerance in degrees, 0 to 90 (default: the property's, 45)")
        ->type_name("DEG");
    check_cmd->add_option("--format", format, "text or json")
        ->check(CLI::IsMember({"text", "json"}))
        ->type_name("FORMAT");
    check_cmd
        ->add_option("-o,--output", output,
                     "also write the mesh to FILE (.obj, .ply or .off) with its non-planar polygons marked (one MESH "
                     "only)")
        ->type_name("FILE");
    std::string html;
    check_cmd->add_option("--html", html, "also write an interactive report (3D view, histogram, list) to FILE")
        ->type_name("FILE");
    std::string jobs;
    check_cmd->add_option("-j,--jobs", jobs, "check files in N worker processes (default: one per core)")
        ->type_name("N");
    std::string top, image;
    check_cmd->add_flag("--details", check.details,
                        "after each file's line, one line per non-planar polygon: bend, degenerate corner, out of "
                        "plane; worst first");
    check_cmd->add_option("--top", top, "with the details, only the N worst polygons of each file (implies --details)")
        ->type_name("N");
    check_cmd->add_flag("--histogram", check.histogram,
                        "count the polygons of 4+ vertices per bend band, and how many each tolerance reports");
    check_cmd
        ->add_option("--image", image,
                     "draw each file as a PNG sheet of four views, non-planar polygons red: FILE.png for one mesh "
                     "file, else a folder")
        ->type_name("PATH");
    check_cmd->add_flag("-q,--quiet", check.quiet, "print nothing on stdout; the exit code tells");
    check_cmd->add_flag("-l,--files-with-non-planar", check.list_non_planar,
                        "print only the paths of the files that have non-planar polygons");
    check_common.add_to(*check_cmd, true);
    ImportOptions check_import, script_import;
    check_import.add_to(*check_cmd);
    // Assimp is asked for its formats only when the help is shown.
    check_cmd->footer([] {
        return "\nFormats, by extension in any case (reader, precision):\n" + torvel::formats_text() +
               "A folder is searched for all of them except " + torvel::not_searched_text() + ".";
    });

    FixOptions fix;
    CommonOptions fix_common;
    std::string fix_tolerance, fix_format = "text", fix_output;
    CLI::App* fix_cmd = app.add_subcommand(
        "fix",
        "split each non-planar polygon into the fewest planar pieces, changing nothing else (exit 1 when "
        "some cannot be)");
    fix_cmd
        ->add_option("MESH", fix.mesh,
                     "the mesh file (any format check reads; only .obj, .ply and .off are rewritten in place)")
        ->required()
        ->type_name("");
    fix_cmd->add_option("-t,--tolerance", fix_tolerance, "tolerance in degrees, 0 to 90 (default: the property's, 45)")
        ->type_name("DEG");
    fix_cmd
        ->add_option("-o,--output", fix_output,
                     "write the repaired mesh to FILE (.obj, .ply or .off; another format than MESH's converts it)")
        ->type_name("FILE");
    fix_cmd->add_flag("--dry-run", fix.dry_run, "report what would be split; write nothing");
    fix_cmd->add_option("--format", fix_format, "text or json")
        ->check(CLI::IsMember({"text", "json"}))
        ->type_name("FORMAT");
    fix_common.add_to(*fix_cmd, true);
    ImportOptions fix_import;
    fix_import.add_to(*fix_cmd);

    ScriptOptions script;
    CommonOptions script_common;
    std::string script_file;
    CLI::App* script_cmd = app.add_subcommand("script", "run host command lines from FILE, - (stdin) or -c");
    script_cmd->add_option("FILE", script_file, "script file, or - for standard input")->type_name("");
    script_cmd->add_option("-c,--command", script.lines, "command lines to run, one per argument")->type_name("LINE");
    script_common.add_to(*script_cmd, true);
    script_import.add_to(*script_cmd);

    PluginInfoOptions info;
    CommonOptions info_common;
    std::string info_format = "text", info_path;
    CLI::App* info_cmd = app.add_subcommand("plugin-info", "describe a plug-in: identity, items, callbacks, property");
    info_cmd->add_option("PATH", info_path, "the plug-in library (default: as for check)")->type_name("");
    info_cmd->add_option("--format", info_format, "text or json")
        ->check(CLI::IsMember({"text", "json"}))
        ->type_name("FORMAT");
    info_common.add_to(*info_cmd, false);

    if (const auto name = unknown_subcommand(argc, argv, app)) {
        std::cerr << "torvel: there is no subcommand '" << *name << "' (the subcommands are check, fix, script "
                  << "and plugin-info)\n"
                  << usage_hint(nullptr) << '\n';
        return kExitError;
    }
    // Set once parsing reaches a subcommand, also when its own arguments are then refused.
    auto active = [&]() -> const CLI::App* {
        for (const CLI::App* sub : {check_cmd, fix_cmd, script_cmd, info_cmd})
            if (sub->parsed()) return sub;
        return nullptr;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::cerr << "torvel: " << e.what() << '\n' << usage_hint(active()) << '\n';
        return kExitError;
    }
    if (version) return run_version();
    if (!active()) {
        std::cerr << "torvel: a subcommand is required: check, fix, script or plugin-info\n"
                  << usage_hint(nullptr) << '\n';
        return kExitError;
    }
    try {
        if (check_cmd->parsed()) {
            if (check_cmd->count("--tolerance")) check.tolerance = parse_tolerance(tolerance);
            if (check_cmd->count("--jobs")) check.jobs = parse_jobs(jobs);
            check.json = format == "json";
            if (check_cmd->count("--output")) check.output = output;
            if (check_cmd->count("--top")) check.top = parse_top(top);
            if (check_cmd->count("--image")) {
                if (image.empty()) throw UsageError("--image: the path is empty");
                check.image = image;
            }
            if (check_cmd->count("--html")) check.html = html;
            check.plugin = check_common.plugin_option(*check_cmd);
            check.log = check_common.log_options(*check_cmd);
            check.import_limits = check_import.limits(*check_cmd);
            return run_check(check);
        }
        if (fix_cmd->parsed()) {
            if (fix_cmd->count("--tolerance")) fix.tolerance = parse_tolerance(fix_tolerance);
            if (fix_cmd->count("--output")) fix.output = fix_output;
            fix.json = fix_format == "json";
            fix.plugin = fix_common.plugin_option(*fix_cmd);
            fix.log = fix_common.log_options(*fix_cmd);
            fix.import_limits = fix_import.limits(*fix_cmd);
            return run_fix(fix);
        }
        if (script_cmd->parsed()) {
            if (script_cmd->count("FILE")) script.file = script_file;
            script.plugin = script_common.plugin_option(*script_cmd);
            script.log = script_common.log_options(*script_cmd);
            script.import_limits = script_import.limits(*script_cmd);
            return run_script_command(script);
        }
        if (info_cmd->count("PATH")) {
            if (info_path.empty()) throw UsageError("the plug-in PATH is empty");
            info.plugin = info_path;
        }
        info.json = info_format == "json";
        info.log = info_common.log_options(*info_cmd);
        return run_plugin_info(info);
    } catch (const UsageError& e) {
        std::cerr << "torvel: " << e.what() << '\n' << usage_hint(active()) << '\n';
        return kExitError;
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
    }
    return kExitError;
}
