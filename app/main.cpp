// torvel: the command line. Every failure ends here as a message on stderr and exit code 2.
#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <string_view>
#include <type_traits>

#include <CLI/CLI.hpp>

#include "app.h"
#include "mesh_load.h"
#include "standard_output.h"

namespace {

using namespace torvel::app;

// How a number option names itself when its value is refused.
struct NumberOption {
    std::string_view name;  // "-t/--tolerance"
    std::string_view unit;  // what a good value is: "degrees (0 to 90)"
    // Given: a number outside the range is told apart ("is outside the range 0 to 90 degrees").
    std::string_view out_of_range = {};
};

// `text` read whole as a T (no blanks, no '+', for an unsigned T no '-'), finite, from `lo` to `hi`.
// Anything else throws UsageError `NAME: "TEXT" is not a number of UNIT`, or for a number outside the
// range with `out_of_range` given, `NAME: TEXT OUT_OF_RANGE`. -0 comes back as 0.
template <class T>
T parse_number(std::string_view text, T lo, T hi, const NumberOption& option) {
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    bool number = !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
    if constexpr (std::is_floating_point_v<T>) number = number && std::isfinite(value);
    const bool in_range = number && value >= lo && value <= hi;
    if (in_range) {
        if constexpr (std::is_floating_point_v<T>) value += T{0};  // shown and written to JSON as the user means it
        return value;
    }
    const std::string name(option.name);
    if (number && !option.out_of_range.empty())
        throw UsageError(name + ": " + std::string(text) + " " + std::string(option.out_of_range));
    throw UsageError(name + ": \"" + std::string(text) + "\" is not a number of " + std::string(option.unit));
}

double parse_tolerance(const std::string& text) {
    return parse_number(text, 0.0, 90.0,
                        {"-t/--tolerance", "degrees (0 to 90)", "is outside the range 0 to 90 degrees"});
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
        // Above 0: the least positive double is the first time allowed.
        if (cmd.count("--import-timeout"))
            l.seconds = parse_number(seconds, std::numeric_limits<double>::denorm_min(), 1e6,
                                     {"--import-timeout", "seconds (above 0, at most 1000000)"});
        if (cmd.count("--import-memory"))
            l.megabytes = parse_number<std::uint64_t>(megabytes, 1, std::uint64_t{1} << 40,
                                                      {"--import-memory", "megabytes (1 or more)"});
        return l;
    }
};

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

// --plugin, --log, -v and the import limits, checked, into the options of a subcommand that has them all.
template <class Options>
void take_host_options(Options& o, const CLI::App& cmd, const CommonOptions& common, const ImportOptions& import) {
    o.plugin = common.plugin_option(cmd);
    o.log = common.log_options(cmd);
    o.import_limits = import.limits(cmd);
}

void add_tolerance_option(CLI::App& cmd, std::string& tolerance) {
    cmd.add_option("-t,--tolerance", tolerance, "tolerance in degrees, 0 to 90 (default: the property's, 45)")
        ->type_name("DEG");
}

void add_format_option(CLI::App& cmd, std::string& format) {
    cmd.add_option("--format", format, "text or json")->check(CLI::IsMember({"text", "json"}))->type_name("FORMAT");
}

// What CLI11 fills in for each subcommand: the option texts as given, checked and converted by its run.
struct Arguments {
    struct {
        CheckOptions options;
        CommonOptions common;
        ImportOptions import;
        std::string tolerance, format = "text", output, html, jobs, top, image;
    } check;
    struct {
        FixOptions options;
        CommonOptions common;
        ImportOptions import;
        std::string tolerance, format = "text", output, flatten, strategy;
    } fix;
    struct {
        ScriptOptions options;
        CommonOptions common;
        ImportOptions import;
        std::string file;
    } script;
    struct {
        PluginInfoOptions options;
        CommonOptions common;
        std::string format = "text", path;
    } info;
};

void add_check(CLI::App& cmd, Arguments& args) {
    auto& a = args.check;
    cmd.add_option("MESH", a.options.meshes, "mesh files (any format listed below), or folders to search for them")
        ->required()
        ->type_name("");
    add_tolerance_option(cmd, a.tolerance);
    add_format_option(cmd, a.format);
    cmd.add_option("-o,--output", a.output,
                   "also write the mesh to FILE (.obj, .ply or .off) with its non-planar polygons marked (one MESH "
                   "only)")
        ->type_name("FILE");
    cmd.add_option("--html", a.html, "also write an interactive report (3D view, histogram, list) to FILE")
        ->type_name("FILE");
    cmd.add_option("-j,--jobs", a.jobs, "check files in N worker processes (default: one per core)")->type_name("N");
    cmd.add_flag("--details", a.options.details,
                 "after each file's line, one line per non-planar polygon: bend, degenerate corner, out of "
                 "plane; worst first");
    cmd.add_option("--top", a.top, "with the details, only the N worst polygons of each file (implies --details)")
        ->type_name("N");
    cmd.add_flag("--histogram", a.options.histogram,
                 "count the polygons of 4+ vertices per bend band, and how many each tolerance reports");
    cmd.add_option("--image", a.image,
                   "draw each file as a PNG sheet of four views, non-planar polygons red: FILE.png for one mesh "
                   "file, else a folder")
        ->type_name("PATH");
    cmd.add_flag("-q,--quiet", a.options.quiet, "print nothing on stdout; the exit code tells");
    cmd.add_flag("-l,--files-with-non-planar", a.options.list_non_planar,
                 "print only the paths of the files that have non-planar polygons");
    a.common.add_to(cmd, true);
    a.import.add_to(cmd);
    // Assimp is asked for its formats only when the help is shown.
    cmd.footer([] {
        return "\nFormats, by extension in any case (reader, precision):\n" + torvel::formats_text() +
               "A folder is searched for all of them except " + torvel::not_searched_text() + ".";
    });
}

int run_check_command(const CLI::App& cmd, Arguments& args) {
    auto& a = args.check;
    CheckOptions& o = a.options;
    if (cmd.count("--tolerance")) o.tolerance = parse_tolerance(a.tolerance);
    if (cmd.count("--jobs"))
        o.jobs = parse_number<std::size_t>(a.jobs, 1, 1024, {"-j/--jobs", "worker processes (1 to 1024)"});
    o.json = a.format == "json";
    if (cmd.count("--output")) o.output = a.output;
    if (cmd.count("--top"))
        o.top = parse_number<std::size_t>(a.top, 1, std::numeric_limits<std::size_t>::max(),
                                          {"--top", "polygons (1 or more)"});
    if (cmd.count("--image")) {
        if (a.image.empty()) throw UsageError("--image: the path is empty");
        o.image = a.image;
    }
    if (cmd.count("--html")) o.html = a.html;
    take_host_options(o, cmd, a.common, a.import);
    return run_check(o);
}

void add_fix(CLI::App& cmd, Arguments& args) {
    auto& a = args.fix;
    cmd.add_option(
           "MESH", a.options.mesh,
           "the mesh file (any format check reads; .obj, .ply and .off are rewritten losslessly to -o, never in place)")
        ->required()
        ->type_name("");
    add_tolerance_option(cmd, a.tolerance);
    cmd.add_option("-o,--output", a.output,
                   "write the repaired mesh to FILE (.obj, .ply or .off; another format than MESH's converts it)")
        ->type_name("FILE");
    cmd.add_flag("--dry-run", a.options.dry_run, "report what would be split; write nothing");
    cmd.add_option("--flatten", a.flatten,
                   "move vertices instead of splitting, none by more than MAX (model units; MAX% of each polygon's "
                   "diameter)")
        ->type_name("MAX");
    cmd.add_option("--strategy", a.strategy,
                   "flatten, split, or auto (flatten, and split what cannot be flattened within MAX); default: "
                   "flatten with --flatten, else split")
        ->type_name("NAME");
    add_format_option(cmd, a.format);
    a.common.add_to(cmd, true);
    a.import.add_to(cmd);
}

int run_fix_command(const CLI::App& cmd, Arguments& args) {
    auto& a = args.fix;
    FixOptions& o = a.options;
    if (cmd.count("--tolerance")) o.tolerance = parse_tolerance(a.tolerance);
    if (cmd.count("--output")) o.output = a.output;
    if (cmd.count("--flatten")) {
        std::string max = a.flatten;
        o.flatten_share = !max.empty() && max.back() == '%';
        if (o.flatten_share) max.pop_back();
        o.flatten = parse_number(max, 0.0, std::numeric_limits<double>::max(),
                                 {"--flatten", "model units (0 or more), or a percentage (MAX%)"});
        if (o.flatten_share) *o.flatten /= 100;
    }
    const std::string strategy = cmd.count("--strategy") ? a.strategy : o.flatten ? "flatten" : "split";
    if (strategy != "flatten" && strategy != "split" && strategy != "auto")
        throw UsageError("--strategy: \"" + strategy + "\" is not flatten, split or auto");
    if (strategy == "split" && o.flatten) throw UsageError("--flatten: --strategy split moves no vertex");
    if (strategy != "split" && !o.flatten) throw UsageError("--strategy " + strategy + " needs --flatten MAX");
    o.split_unflattened = strategy == "auto";
    o.json = a.format == "json";
    take_host_options(o, cmd, a.common, a.import);
    return run_fix(o);
}

void add_script(CLI::App& cmd, Arguments& args) {
    auto& a = args.script;
    cmd.add_option("FILE", a.file, "script file, or - for standard input")->type_name("");
    cmd.add_option("-c,--command", a.options.lines, "command lines to run, one per argument")->type_name("LINE");
    a.common.add_to(cmd, true);
    a.import.add_to(cmd);
}

int run_script_subcommand(const CLI::App& cmd, Arguments& args) {
    auto& a = args.script;
    ScriptOptions& o = a.options;
    if (cmd.count("FILE")) o.file = a.file;
    take_host_options(o, cmd, a.common, a.import);
    return run_script_command(o);
}

void add_plugin_info(CLI::App& cmd, Arguments& args) {
    auto& a = args.info;
    cmd.add_option("PATH", a.path, "the plug-in library (default: as for check)")->type_name("");
    add_format_option(cmd, a.format);
    a.common.add_to(cmd, false);
}

int run_plugin_info_command(const CLI::App& cmd, Arguments& args) {
    auto& a = args.info;
    PluginInfoOptions& o = a.options;
    if (cmd.count("PATH")) {
        if (a.path.empty()) throw UsageError("the plug-in PATH is empty");
        o.plugin = a.path;
    }
    o.json = a.format == "json";
    o.log = a.common.log_options(cmd);
    return run_plugin_info(o);
}

// torvel's subcommands, in the order `torvel --help` lists them.
struct Subcommand {
    const char* name;
    const char* help;                                     // the line `torvel --help` shows
    void (*add_options)(CLI::App& cmd, Arguments& args);  // declares its arguments to CLI11
    int (*run)(const CLI::App& cmd, Arguments& args);     // checks them and runs; returns the exit code
};

constexpr Subcommand kSubcommands[] = {
    {"check", "report the non-planar polygons of each mesh (exit 1 when any)", add_check, run_check_command},
    {"fix",
     "split each non-planar polygon into the fewest planar pieces, changing nothing else (exit 1 when some cannot "
     "be)",
     add_fix, run_fix_command},
    {"script", "run host command lines from FILE, - (stdin) or -c", add_script, run_script_subcommand},
    {"plugin-info", "describe a plug-in: identity, items, callbacks, property", add_plugin_info,
     run_plugin_info_command},
};

// The subcommands' names as a list: "check, fix, script and plugin-info" with `last` = "and".
std::string subcommand_names(std::string_view last) {
    std::string out;
    const std::size_t n = std::size(kSubcommands);
    for (std::size_t i = 0; i < n; ++i)
        out += (i == 0 ? "" : i + 1 == n ? " " + std::string(last) + " " : ", ") + std::string(kSubcommands[i].name);
    return out;
}

// The hint after a usage error: the help of the subcommand it was made in.
std::string usage_hint(const CLI::App* subcommand) {
    return "Run 'torvel " + (subcommand ? subcommand->get_name() + " " : std::string()) + "--help' for usage.";
}

// The first argument that is not an option names the subcommand (torvel's own options take no value).
std::optional<std::string> unknown_subcommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty() || arg.front() != '-') {
            for (const Subcommand& sub : kSubcommands)
                if (arg == sub.name) return std::nullopt;
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

    Arguments args;
    CLI::App* commands[std::size(kSubcommands)];
    for (std::size_t i = 0; i < std::size(kSubcommands); ++i) {
        commands[i] = app.add_subcommand(kSubcommands[i].name, kSubcommands[i].help);
        kSubcommands[i].add_options(*commands[i], args);
    }

    if (const auto name = unknown_subcommand(argc, argv)) {
        std::cerr << "torvel: there is no subcommand '" << *name << "' (the subcommands are " << subcommand_names("and")
                  << ")\n"
                  << usage_hint(nullptr) << '\n';
        return kExitError;
    }
    // Set once parsing reaches a subcommand, also when its own arguments are then refused.
    auto active = [&]() -> std::size_t {
        for (std::size_t i = 0; i < std::size(kSubcommands); ++i)
            if (commands[i]->parsed()) return i;
        return std::size(kSubcommands);
    };
    auto active_command = [&]() -> const CLI::App* {
        const std::size_t i = active();
        return i < std::size(kSubcommands) ? commands[i] : nullptr;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::cerr << "torvel: " << e.what() << '\n' << usage_hint(active_command()) << '\n';
        return kExitError;
    }
    if (version) return run_version();
    const std::size_t sub = active();
    if (sub == std::size(kSubcommands)) {
        std::cerr << "torvel: a subcommand is required: " << subcommand_names("or") << '\n'
                  << usage_hint(nullptr) << '\n';
        return kExitError;
    }
    try {
        return kSubcommands[sub].run(*commands[sub], args);
    } catch (const UsageError& e) {
        std::cerr << "torvel: " << e.what() << '\n' << usage_hint(commands[sub]) << '\n';
        return kExitError;
    }
}

}  // namespace

int main(int argc, char** argv) {
    StandardOutput out;
    int code = kExitError;
    try {
        code = run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
    }
    // Output that never arrived is a failed run, whatever the subcommand found.
    if (const std::error_code ec = out.finish()) {
        std::cerr << "torvel: standard output: " << ec.message() << '\n';
        return kExitError;
    }
    return code;
}
