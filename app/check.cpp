// torvel check: each mesh in a fresh scene with a freshly loaded plug-in, whose Subset decides.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <iostream>

#include <xsi_customproperty.h>

#include "app.h"
#include "check.h"
#include "host.h"
#include "html_output.h"
#include "mesh_io.h"
#include "names.h"
#include "plugin_registry.h"
#include "report.h"

namespace torvel::app {

namespace {

const std::wstring kTolerance = std::wstring(torvel_filter::kPropertyName) + L".def";
constexpr std::uintmax_t kBigFile = 64u << 20;  // reading this much takes over a second

// Every exit from a file's check, also by an exception, runs each filter's Term and XSIUnloadPlugin.
class LoadedPlugin {
public:
    LoadedPlugin(host::Host& host, const fs::path& path) : host_(host) { host_.plugins().load(path); }
    ~LoadedPlugin() {
        try {
            host_.plugins().shutdown();
        } catch (const std::exception& e) {
            std::cerr << "torvel: " << e.what() << '\n';
        }
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

private:
    host::Host& host_;
};

// One progress line on stderr, rewritten in place with "\r" and erased when done.
class Progress {
public:
    explicit Progress(bool enabled) : enabled_(enabled) {}
    ~Progress() { clear(); }
    void show(const std::string& text) {
        if (!enabled_) return;
        std::cerr << '\r' << text << std::string(width_ > text.size() ? width_ - text.size() : 0, ' ') << std::flush;
        width_ = std::max(width_, text.size());
    }
    void clear() {
        if (!enabled_ || width_ == 0) return;
        std::cerr << '\r' << std::string(width_, ' ') << '\r' << std::flush;
        width_ = 0;
    }

private:
    bool enabled_;
    std::size_t width_ = 0;
};

// Sets the tolerance when asked to and returns the value the filter will read.
double settings_tolerance(host::Host& host, const std::optional<double>& requested) {
    XSI::CRef ref;
    ref = host.resolve(kTolerance);
    if (!ref.IsValid())
        throw std::runtime_error("the plug-in did not create the settings parameter " + to_utf8(kTolerance));
    XSI::Parameter def(ref);
    if (requested && def.PutValue(XSI::CValue(*requested)).GetCode() != XSI::CStatus::OK)
        throw std::runtime_error(to_utf8(kTolerance) + " refused the tolerance " + format_number(*requested) +
                                 " (its range is " + range_text(def) + ")");
    return static_cast<double>(def.GetValue());
}

struct Checked {
    FileResult result;
    double tolerance = 0;
    io::MeshData mesh;  // kept for -o only
};

Checked check_file(host::Host& host, const std::string& path, const CheckOptions& o, const fs::path& plugin,
                   Progress& progress, const std::string& counter) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    std::error_code ec;
    bool shown = false;
    if (const auto size = fs::file_size(path, ec); !ec && size >= kBigFile) {
        progress.show("checking " + counter + path + " (reading)...");
        shown = true;
    }
    io::MeshData data;
    try {
        data = io::read_mesh(path);
    } catch (const io::MeshError& e) {
        throw FileError(e.what());
    }
    // The filter takes about a microsecond per polygon; announce it when the file will take over a second.
    const std::chrono::duration<double> so_far = clock::now() - start;
    if (shown || so_far.count() + static_cast<double>(data.polygon_count()) * 1e-6 > 1.0)
        progress.show("checking " + counter + path + " (" + std::to_string(data.polygon_count()) + " polygons)...");

    host.new_scene();
    LoadedPlugin loaded(host, plugin);
    Checked out;
    out.tolerance = settings_tolerance(host, o.tolerance);

    std::wstring name = from_utf8(fs::path(path).stem().string());
    XSI::CRef mesh;
    try {
        // The program keeps the file's arrays only when it writes them out again.
        mesh = o.output
                   ? host.add_mesh(name, data.positions, data.offsets, data.indices)
                   : host.add_mesh(name, std::move(data.positions), std::move(data.offsets), std::move(data.indices));
    } catch (const host::HostError& e) {
        throw FileError(path + ": " + e.what());
    }
    for (const std::string& warning : data.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));
    const XSI::CRef item = host.make_component_item(mesh, XSI::siPolygonFaceID, {});
    host.selection() = {item};
    if (!host.plugins().find_item(torvel_filter::kFilterName))
        throw std::runtime_error(plugin.string() + ": registers no filter " + to_utf8(torvel_filter::kFilterName));
    host::FilterResult filtered;
    try {
        filtered = host::run_filter(host, torvel_filter::kFilterName, host.selection());
    } catch (const HostError& e) {
        throw std::runtime_error(plugin.string() + ": " + e.what());
    }

    out.result.path = path;
    out.result.polygons = host.store().find_as<host::MeshObject>(mesh)->mesh.polygon_count();
    out.result.non_planar = std::move(filtered.remaining.front());
    std::sort(out.result.non_planar.begin(), out.result.non_planar.end());
    progress.clear();
    if (o.output) out.mesh = std::move(data);
    return out;
}

// The run's report, fed one entry at a time in input order whether the files were checked here or by
// workers: the result lines on stdout, errors on stderr and in the log, the totals and the JSON document.
class Report {
public:
    Report(const CheckOptions& o, host::Log& log, std::size_t entries, HtmlOutput* html = nullptr)
        : o_(o), log_(log), entries_(entries), html_(html) {}

    // The line that starts an entry's part of the log.
    void start(const MeshInput& in) { log_.add(XSI::siVerboseMsg, L"checking " + from_utf8(in.path)); }

    void add(const MeshInput& in, FileOutcome&& out) {
        for (host::LogEntry& e : out.log) log_.add(e.severity, std::move(e.text));
        if (out.kind == FileOutcome::Kind::fatal) throw std::runtime_error(out.message);
        if (out.kind == FileOutcome::Kind::error) {
            fail(in.path, out.message);
            if (html_) html_->add_error(in.path, out.message);
            ++totals_.failed;
            return;
        }
        FileResult& r = out.result;
        if (html_) html_->add(r, out.tolerance);
        if (!tolerance_) tolerance_ = out.tolerance;
        ++totals_.checked;
        totals_.non_planar += !r.non_planar.empty();
        totals_.polygons += r.non_planar.size();
        if (!o_.quiet && o_.list_non_planar && !r.non_planar.empty()) std::cout << r.path << std::endl;
        if (!o_.quiet && !o_.list_non_planar && !o_.json) std::cout << check_line(r, out.tolerance) << std::endl;
        if (o_.json) results_.push_back(std::move(r));
    }

    // A failure that is not a file's check: an -o output that could not be written.
    void fail(const std::string& path, const std::string& message) {
        log_.add(XSI::siErrorMsg, from_utf8(message));
        std::cerr << "torvel: " << message << '\n';
        failures_.push_back({path, message});
    }

    int finish() {
        if (html_) {
            try {
                html_->finish();
            } catch (const FileError& e) {
                fail(html_->path().string(), e.what());
            }
        }
        if (!o_.quiet && o_.json)
            std::cout << check_json_text(tolerance_.value_or(o_.tolerance.value_or(45.0)), results_, failures_)
                      << std::endl;
        else if (!o_.quiet && !o_.list_non_planar && entries_ > 1)
            std::cout << check_summary(totals_) << std::endl;
        if (!failures_.empty()) return kExitError;
        return totals_.non_planar > 0 ? kExitNonPlanar : kExitClean;
    }

private:
    const CheckOptions& o_;
    host::Log& log_;
    std::size_t entries_;
    HtmlOutput* html_;
    std::optional<double> tolerance_;
    CheckTotals totals_;
    std::vector<FileResult> results_;  // kept for JSON only
    std::vector<FileFailure> failures_;
};

FileOutcome error_outcome(std::string message) {
    FileOutcome out;
    out.message = std::move(message);
    return out;
}

// One file's check as an outcome; `mesh` (when not null) receives the file's arrays for -o.
FileOutcome check_outcome(host::Host& host, const MeshInput& in, const CheckOptions& o, const fs::path& plugin,
                          Progress& progress, const std::string& counter, io::MeshData* mesh) {
    try {
        Checked c = check_file(host, in.path, o, plugin, progress, counter);
        FileOutcome out;
        out.kind = FileOutcome::Kind::checked;
        out.result = std::move(c.result);
        out.tolerance = c.tolerance;
        if (mesh) *mesh = std::move(c.mesh);
        return out;
    } catch (const FileError& e) {
        progress.clear();
        return error_outcome(e.what());
    } catch (const std::bad_alloc&) {
        progress.clear();
        return error_outcome(in.path + ": not enough memory to check it");
    }
}

std::size_t job_count(const CheckOptions& o, std::span<const MeshInput> inputs) {
    std::size_t checkable = 0;
    for (const MeshInput& in : inputs) checkable += in.error.empty();
    const std::size_t wanted = o.jobs ? *o.jobs : checkable > 1 ? available_cores() : 1;
    return std::min(wanted, checkable);
}

int check_all(host::Host& host, std::span<const MeshInput> inputs, const CheckOptions& o, const fs::path& plugin,
              std::span<const RunFile> protect, HtmlOutput* html) {
    Report report(o, host.log(), inputs.size(), html);
    const std::size_t jobs = job_count(o, inputs);
    if (jobs >= 2 && !o.output) {
        // A worker checks in its own host; this process's host only collects the log.
        const CheckOne one = [&o, &plugin](host::Host& h, const MeshInput& in) {
            Progress none(false);
            return check_outcome(h, in, o, plugin, none, "", nullptr);
        };
        check_in_workers(inputs, jobs, one, [&](std::size_t i, FileOutcome&& out) {
            report.start(inputs[i]);
            report.add(inputs[i], std::move(out));
        });
        return report.finish();
    }

    const host::HostScope bound(host);  // the settings parameter is read through the SDK
    Progress progress(::isatty(2) && !o.json && !o.log.verbose);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const MeshInput& in = inputs[i];
        report.start(in);
        if (!in.error.empty()) {
            report.add(in, error_outcome(in.error));
            continue;
        }
        const std::string counter =
            inputs.size() > 1 ? "[" + std::to_string(i + 1) + "/" + std::to_string(inputs.size()) + "] " : "";
        io::MeshData mesh;
        FileOutcome out = check_outcome(host, in, o, plugin, progress, counter, o.output ? &mesh : nullptr);
        const bool write = o.output && out.kind == FileOutcome::Kind::checked;
        const std::vector<std::uint32_t> marked = write ? out.result.non_planar : std::vector<std::uint32_t>{};
        report.add(in, std::move(out));
        if (write) {
            try {
                io::write_marked(*o.output, mesh, marked, protect);
            } catch (const io::MeshError& e) {
                report.fail(o.output->string(), e.what());
            }
        }
    }
    return report.finish();
}

}  // namespace

int run_check(const CheckOptions& o) {
    if (o.output && o.meshes.size() != 1)
        throw UsageError("-o/--output takes exactly one input mesh, got " + std::to_string(o.meshes.size()));
    if (o.list_non_planar && o.json) throw UsageError("-l/--files-with-non-planar lists paths as text, not JSON");
    const std::vector<MeshInput> inputs = expand_meshes(o.meshes);
    if (o.output && inputs.size() != 1)
        throw UsageError("-o/--output takes exactly one input mesh, got the " + std::to_string(inputs.size()) +
                         " mesh files of the folder " + o.meshes.front());
    if (o.output && !io::format_named(*o.output)) {  // refused before any mesh is read
        const std::string ext = o.output->extension().string();
        throw UsageError("-o " + o.output->string() + ": torvel cannot write " +
                         (ext.empty() ? "a file without an extension" : "'" + ext + "' files") +
                         " (it writes .obj, .ply and .off)");
    }
    host::Host host;
    LogSink log(host.log(), o.log);
    int code = kExitError;
    try {
        // Everything the run reads, and its outputs, are protected from each other.
        std::vector<RunFile> reads;
        for (const MeshInput& in : inputs)
            if (in.error.empty()) reads.push_back({in.path, "the input"});
        const fs::path plugin = find_plugin(o.plugin);
        reads.push_back({plugin, "the plug-in library"});
        for (const RunFile& f : reads) log.protect(f);
        std::vector<RunFile> output_protect = reads;
        if (o.output) {
            for (const fs::path& f : io::marked_files(*o.output)) log.protect({f, "the output"});
            if (o.log.file) output_protect.push_back({*o.log.file, "the log"});
        }
        if (o.html) log.protect({*o.html, "the report"});
        log.check_protected();
        std::optional<HtmlOutput> html;
        if (o.html) html.emplace(*o.html, html_protect(reads, o));
        if (o.html && o.output) output_protect.push_back({*o.html, "the report"});
        code = check_all(host, inputs, o, plugin, output_protect, html ? &*html : nullptr);
    } catch (const std::exception& e) {
        host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        log.finish_after_error();
        throw;
    }
    log.finish();
    return code;
}

}  // namespace torvel::app
