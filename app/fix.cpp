// torvel fix: the polygons the filter reports are split into the fewest pieces it does not report (or
// flattened by moving vertices), the filter is asked again about the result, and only the split faces
// (and moved vertices) of the file are rewritten.
#include <algorithm>
#include <charconv>
#include <iostream>
#include <iterator>

#include "app.h"
#include "host.h"
#include "mesh_io.h"
#include "report.h"

namespace torvel::app {

namespace {

void print_text(const torvel::FixReport& r) {
    std::cout << r.path << ": " << repair_summary(r.splits, r.not_repaired.size(), r.tolerance) << '\n';
    if (const std::string flattened = flattened_summary(r.flattened, r.moves); !flattened.empty()) {
        std::cout << r.path << ": " << flattened << '\n';
        for (const torvel::Flattened& f : r.flattened)
            std::cout << r.path << ": polygon " << f.index << " flattened, its corners moved by up to "
                      << format_number(f.largest_move) << '\n';
    }
    if (const std::string unproven = not_fewest_summary(r.splits); !unproven.empty())
        std::cout << r.path << ": " << unproven << '\n';
    for (const torvel::NotRepaired& n : r.not_repaired)
        std::cout << r.path << ": polygon " << n.index << " not repaired: " << n.reason << '\n';
    if (r.converted)
        std::cout << r.path << ": converted to " << r.output->string() << " (" << r.path.substr(r.path.rfind('.') + 1)
                  << " read, " << r.output->extension().string().substr(1) << " written)\n";
    std::cout << std::flush;
}

}  // namespace

int run_fix(const FixOptions& o) {
    if (!o.output && !o.dry_run) throw UsageError("-o/--output is required (or --dry-run to only report)");
    if (o.output) refuse_unwritable_format(*o.output);
    RunFiles files;
    files.add_input(o.mesh, role::input);
    if (o.output && !o.dry_run) io::add_marked_outputs(files, *o.output);
    host::Host host;
    LogSink log(host.log(), o.log, files);
    std::vector<FileFailure> errors;
    std::optional<torvel::FixReport> repair;
    fs::path plugin;
    try {
        plugin = find_plugin(o.plugin);
        files.add_input(plugin, role::plugin);
        // Refused before any work; OutputFile checks again when it writes.
        files.refuse_clashes();
        host.log().add(XSI::siVerboseMsg, L"repairing " + from_utf8(o.mesh));
        torvel::SessionOptions options;
        options.plugin = plugin;
        options.log = [&host](const torvel::LogLine& line) {
            host.log().add(static_cast<XSI::siSeverityType>(line.severity), from_utf8(line.text));
        };
        torvel::Session session(std::move(options));
        torvel::FixOptions fix;
        fix.tolerance = o.tolerance;
        if (!o.dry_run) fix.output = o.output;
        fix.import_limits.seconds = o.import_limits.seconds;
        fix.import_limits.megabytes = o.import_limits.megabytes;
        fix.flatten = o.flatten;
        fix.flatten_share = o.flatten_share;
        fix.split_unflattened = o.split_unflattened;
        try {
            repair = session.fix_file(o.mesh, fix);
        } catch (const FileError& e) {
            host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
            std::cerr << "torvel: " << e.what() << '\n';
            errors.push_back({e.file().empty() ? o.mesh : e.file(), e.what(), e.code()});
        }
    } catch (const std::exception& e) {
        host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        log.finish_after_error();
        throw;
    }
    log.finish();
    if (o.json) {
        const double tolerance =
            torvel::run_tolerance(repair ? std::optional(repair->tolerance) : std::nullopt, o.tolerance, plugin);
        std::cout << torvel::fix_json(tolerance, repair && errors.empty() ? &*repair : nullptr, errors) << std::endl;
    } else if (repair && errors.empty()) {
        print_text(*repair);
    }
    if (!errors.empty()) return kExitError;
    return repair->not_repaired.empty() ? kExitClean : kExitNonPlanar;
}

}  // namespace torvel::app
