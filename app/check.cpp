// torvel check: each mesh in a fresh scene with a freshly loaded plug-in, whose Subset decides.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <iostream>

#include <xsi_customproperty.h>

#include "app.h"
#include "host.h"
#include "html_output.h"
#include "mesh_io.h"
#include "report.h"

namespace torvel::app {

namespace {

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

torvel::CheckOptions library_options(const CheckOptions& o) {
    torvel::CheckOptions out;
    out.tolerance = o.tolerance;
    out.details = o.details;
    out.top = o.top;
    out.histogram = o.histogram;
    out.image = o.image.has_value();
    if (o.html) out.html_section = 0;
    out.mesh = o.output.has_value();
    out.import_limits.seconds = o.import_limits.seconds;
    out.import_limits.megabytes = o.import_limits.megabytes;
    return out;
}

void add_log(host::Log& log, std::span<const torvel::LogLine> lines) {
    for (const torvel::LogLine& line : lines)
        log.add(static_cast<XSI::siSeverityType>(line.severity), from_utf8(line.text));
}

// The run's report, fed one entry at a time in input order whether the files were checked here or by
// workers: the result lines on stdout, errors on stderr and in the log, the totals and the JSON document.
class Report {
public:
    Report(const CheckOptions& o, const torvel::CheckOptions& lib, host::Log& log, const fs::path& plugin,
           std::size_t entries, HtmlOutput* html = nullptr)
        : o_(o), lib_(lib), log_(log), plugin_(plugin), entries_(entries), bars_(::isatty(1) == 1), html_(html) {}

    // The line that starts an entry's part of the log.
    void start(const MeshInput& in) { log_.add(XSI::siVerboseMsg, L"checking " + from_utf8(in.path)); }

    void add(std::size_t index, torvel::FileOutcome&& out) {
        add_log(log_, out.log);
        if (out.failure) {
            fail(out.failure->path, out.failure->message, out.failure->code);
            if (html_) html_->add_error(out.failure->path, out.failure->message);
            ++totals_.failed;
            return;
        }
        FileReport& r = *out.report;
        if (html_) html_->add(r, index);
        if (!tolerance_) tolerance_ = r.tolerance;
        ++totals_.checked;
        totals_.non_planar += !r.non_planar.empty();
        totals_.polygons += r.non_planar.size();
        if (!o_.quiet && o_.list_non_planar && !r.non_planar.empty()) std::cout << r.path << std::endl;
        if (!o_.quiet && !o_.list_non_planar && !o_.json) {
            std::cout << check_line(r, r.tolerance) << '\n' << object_lines(r);
            print_measures(r);
            std::cout.flush();
        }
        if (r.histogram) geometry::add_histogram(all_, *r.histogram);
        if (o_.json) {
            // What the JSON document keeps of a file: not its picture, page section or mesh.
            r.image = {};
            r.html = {};
            r.mesh = {};
            results_.push_back(std::move(r));
        }
    }

    // Also a failure that is not a file's check: an output that could not be written.
    void fail(const std::string& path, const std::string& message, ErrorCode code) {
        log_.add(XSI::siErrorMsg, from_utf8(message));
        std::cerr << "torvel: " << message << '\n';
        failures_.push_back({path, message, code});
    }

    int finish() {
        if (html_) {
            try {
                html_->finish();
            } catch (const FileError& e) {
                fail(html_->path().string(), e.what(), e.code());
            }
        }
        if (!o_.quiet && o_.json)
            std::cout << torvel::check_json(torvel::run_tolerance(tolerance_, o_.tolerance, plugin_), results_,
                                            failures_, lib_)
                      << std::endl;
        if (!o_.quiet && !o_.list_non_planar && !o_.json && entries_ > 1 && o_.histogram)
            for (const std::string& line : histogram_lines(all_, "all files: bend histogram", bars_))
                std::cout << line << '\n';
        if (!o_.quiet && !o_.list_non_planar && !o_.json && entries_ > 1)
            std::cout << check_summary(totals_) << std::endl;
        if (!failures_.empty()) return kExitError;
        return totals_.non_planar > 0 ? kExitNonPlanar : kExitClean;
    }

private:
    void print_measures(const FileReport& m) const {
        for (const std::string& line : detail_lines(m.details)) std::cout << line << '\n';
        if (m.histogram)
            for (const std::string& line : histogram_lines(*m.histogram, "  bend histogram", bars_))
                std::cout << line << '\n';
    }
    const CheckOptions& o_;
    const torvel::CheckOptions& lib_;
    host::Log& log_;
    const fs::path& plugin_;
    std::size_t entries_;
    bool bars_;                    // stdout is a terminal: histograms get bars
    geometry::BendHistogram all_;  // the histograms of all files checked
    HtmlOutput* html_;
    std::optional<double> tolerance_;
    CheckTotals totals_;
    std::vector<FileReport> results_;  // kept for JSON only
    std::vector<FileFailure> failures_;
};

// For a run of many files: the arrays one file frees are kept for the next instead of going back to the
// kernel, which would zero them again for the next file (some 8% of a run of small files). The heap still
// shrinks past 256 MB of free memory at its top.
void keep_freed_memory() {
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

std::size_t job_count(const CheckOptions& o, std::span<const MeshInput> inputs) {
    if (!o.jobs) return torvel::default_jobs(inputs);
    std::size_t checkable = 0;
    for (const MeshInput& in : inputs) checkable += !in.failure;
    return std::min(*o.jobs, checkable);
}

int check_all(host::Host& host, std::span<const MeshInput> inputs, const CheckOptions& o, const fs::path& plugin,
              const RunFiles& files, std::span<const fs::path> images, HtmlOutput* html) {
    const torvel::CheckOptions lib = library_options(o);
    Report report(o, lib, host.log(), plugin, inputs.size(), html);
    if (inputs.size() > 1) keep_freed_memory();
    const std::size_t jobs = o.output ? 1 : job_count(o, inputs);
    Progress progress(jobs < 2 && ::isatty(2) && !o.json && !o.log.verbose);
    std::size_t current = 0;  // the entry being checked here, for the progress line
    torvel::SessionOptions session;
    session.plugin = plugin;
    session.progress = [&](const std::string& path, std::optional<std::size_t> polygons) {
        const std::string counter =
            inputs.size() > 1 ? "[" + std::to_string(current + 1) + "/" + std::to_string(inputs.size()) + "] " : "";
        progress.show("checking " + counter + path +
                      (polygons ? " (" + std::to_string(*polygons) + " polygons)..." : " (reading)..."));
    };
    // An entry's picture is written once its result is reported, as -o's mesh is.
    // Checked here, the host's lines are logged as they come (-v shows them live), each entry's after its
    // start; workers send an entry's lines with its outcome.
    const bool here = jobs < 2;
    if (here) {
        session.starting = [&](std::size_t i) { report.start(inputs[i]); };
        session.log = [&](const torvel::LogLine& line) {
            progress.clear();
            add_log(host.log(), {&line, 1});
        };
    }
    auto deliver = [&](std::size_t i, torvel::FileOutcome&& out) {
        progress.clear();
        current = i + 1;
        if (!here) report.start(inputs[i]);
        const bool checked = out.report.has_value();
        std::vector<unsigned char> png;
        PolygonMesh mesh;
        std::vector<std::uint32_t> marked;
        if (checked) {
            png = std::move(out.report->image);
            mesh = std::move(out.report->mesh);
            if (o.output) marked = out.report->non_planar;
        }
        report.add(i, std::move(out));
        if (!checked) return;
        if (!images.empty() && !images[i].empty()) {
            try {
                write_image(images[i], png, files);
            } catch (const FileError& e) {
                report.fail(images[i].string(), e.what(), e.code());
            }
        }
        if (o.output) {
            try {
                io::write_marked(*o.output, mesh, marked, files);
            } catch (const io::MeshError& e) {
                report.fail(o.output->string(), e.what(), e.code());
            }
        }
    };
    try {
        torvel::check_files(inputs, lib, session, jobs, deliver);
    } catch (const torvel::RunStopped& e) {
        progress.clear();
        if (!here) report.start(inputs[e.index()]);
        add_log(host.log(), e.log());
        throw Error(e.what(), e.code());
    }
    return report.finish();
}

}  // namespace

int run_check(const CheckOptions& o) {
    if (o.output && o.meshes.size() != 1)
        throw UsageError("-o/--output takes exactly one input mesh, got " + std::to_string(o.meshes.size()));
    if (o.list_non_planar && o.json) throw UsageError("-l/--files-with-non-planar lists paths as text, not JSON");
    if (o.list_non_planar && (o.details || o.top || o.histogram))
        throw UsageError("-l/--files-with-non-planar lists paths only, without --details, --top or --histogram");
    const std::vector<MeshInput> inputs = torvel::find_mesh_files(o.meshes);
    if (o.output && inputs.size() != 1)
        throw UsageError("-o/--output takes exactly one input mesh, got the " + std::to_string(inputs.size()) +
                         " mesh files of the folder " + o.meshes.front());
    if (o.output) refuse_unwritable_format(*o.output);  // before any mesh is read
    const std::vector<fs::path> images = o.image ? image_paths(*o.image, inputs) : std::vector<fs::path>{};
    // Every file the run reads and writes. Of two outputs that are one file the later is refused: the
    // log (registered by its sink) rather than the report, the report rather than a picture or -o.
    RunFiles files;
    for (const MeshInput& in : inputs)
        if (!in.failure) files.add_input(in.path, role::input);
    if (o.output) io::add_marked_outputs(files, *o.output);
    for (const fs::path& f : images)
        if (!f.empty()) files.add_output(f, role::picture, f.string());
    if (o.html) files.add_output(*o.html, role::report, "--html " + o.html->string());
    host::Host host;
    LogSink log(host.log(), o.log, files);
    int code = kExitError;
    try {
        const fs::path plugin = find_plugin(o.plugin);
        files.add_input(plugin, role::plugin);
        files.refuse_clashes();
        std::optional<HtmlOutput> html;
        if (o.html) html.emplace(*o.html, files);
        code = check_all(host, inputs, o, plugin, files, images, html ? &*html : nullptr);
    } catch (const std::exception& e) {
        host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        log.finish_after_error();
        throw;
    }
    log.finish();
    return code;
}

}  // namespace torvel::app
