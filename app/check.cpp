// torvel check: each mesh in a fresh scene with a freshly loaded plug-in, whose Subset decides.
#include <malloc.h>
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
#include "mesh_load.h"
#include "plugin_registry.h"
#include "file_session.h"
#include "report.h"

namespace torvel::app {

namespace {

constexpr std::uintmax_t kBigFile = 64u << 20;  // reading this much takes over a second

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

struct Checked {
    FileResult result;
    double tolerance = 0;
    PolygonMesh output;  // -o only: the objects joined, as written
    Measures measures;
};

MeasureRequest measure_request(const CheckOptions& o) {
    return {o.details || o.top.has_value(), o.top, o.histogram, o.image.has_value()};
}

// The objects the check put in the scene for one file, in file order, named as the scene names them.
std::vector<CheckedObject> scene_objects(const host::Host& host, std::span<const XSI::CRef> meshes,
                                         std::span<const std::uint32_t> face_lines) {
    std::vector<CheckedObject> objects;
    for (const XSI::CRef& ref : meshes) {
        const host::MeshObject& object = *host.store().find_as<host::MeshObject>(ref);
        add_checked_object(objects, to_utf8(object.name),
                           {object.mesh.positions, object.mesh.offsets, object.mesh.indices}, face_lines);
    }
    return objects;
}

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
    Checked out;
    LoadedFile file = load_mesh_file(path, o.import_limits);
    const std::size_t polygons = file.mesh.polygon_count();
    // The filter takes about a microsecond per polygon; announce it when the file will take over a second.
    const std::chrono::duration<double> so_far = clock::now() - start;
    if (shown || so_far.count() + static_cast<double>(polygons) * 1e-6 > 1.0)
        progress.show("checking " + counter + path + " (" + std::to_string(polygons) + " polygons)...");

    FileSession session(host, plugin, o.tolerance);
    out.tolerance = session.tolerance();
    std::vector<PolygonMesh> objects = split_objects(file, fs::path(path).stem().string());
    std::vector<std::string> source_names;
    source_names.reserve(objects.size());
    for (const PolygonMesh& object : objects) source_names.push_back(object.source_name(0));
    if (o.output) out.output = joined_mesh(objects, file.named);
    const std::vector<XSI::CRef> meshes = session.add_objects(std::move(objects), path);
    for (const std::string& warning : file.mesh.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));

    // Each object in turn with all its polygons selected, as a user applies the filter object by object.
    out.result.path = path;
    out.result.precision = file.precision;
    std::uint32_t first = 0;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const auto* obj = host.store().find_as<host::MeshObject>(meshes[m]);
        ObjectResult r{to_utf8(obj->name), obj->mesh.polygon_count(), session.reported(meshes[m]), source_names[m]};
        for (const std::uint32_t i : r.non_planar) out.result.non_planar.push_back(first + i);
        first += r.polygons;
        out.result.objects.push_back(std::move(r));
    }
    out.result.polygons = first;
    if (const MeasureRequest wanted = measure_request(o); wanted.details || wanted.histogram || wanted.image) {
        try {
            out.measures = measure_file(wanted, scene_objects(host, meshes, file.mesh.face_lines),
                                        out.result.non_planar, path, out.tolerance);
        } catch (const std::invalid_argument& e) {
            throw FileError(path + ": " + e.what(), {}, ErrorCode::internal);
        }
    }
    progress.clear();
    return out;
}

// The run's report, fed one entry at a time in input order whether the files were checked here or by
// workers: the result lines on stdout, errors on stderr and in the log, the totals and the JSON document.
class Report {
public:
    Report(const CheckOptions& o, host::Log& log, const fs::path& plugin, std::size_t entries,
           HtmlOutput* html = nullptr)
        : o_(o), log_(log), plugin_(plugin), entries_(entries), bars_(::isatty(1) == 1), html_(html) {}

    // The line that starts an entry's part of the log.
    void start(const MeshInput& in) { log_.add(XSI::siVerboseMsg, L"checking " + from_utf8(in.path)); }

    void add(const MeshInput& in, FileOutcome&& out) {
        for (host::LogEntry& e : out.log) log_.add(e.severity, std::move(e.text));
        if (out.kind == FileOutcome::Kind::fatal) throw Error(out.message, out.code);
        if (out.kind == FileOutcome::Kind::error) {
            fail(in.path, out.message, out.code);
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
        if (!o_.quiet && !o_.list_non_planar && !o_.json) {
            std::cout << check_line(r, out.tolerance) << '\n' << object_lines(r);
            print_measures(out.measures);
            std::cout.flush();
        }
        if (out.measures.histogram) add_histogram(all_, *out.measures.histogram);
        if (o_.json) {
            results_.push_back(std::move(r));
            file_fields_.push_back(measures_json(out.measures));
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
        Json run_fields = Json::object();
        if (o_.histogram) run_fields["histogram"] = histogram_json(all_);
        if (!o_.quiet && o_.json)
            std::cout << check_json_text(tolerance_ ? *tolerance_ : run_tolerance(o_.tolerance, plugin_), results_,
                                         failures_, file_fields_, run_fields)
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
    void print_measures(const Measures& m) const {
        for (const std::string& line : detail_lines(m.details)) std::cout << line << '\n';
        if (m.histogram)
            for (const std::string& line : histogram_lines(*m.histogram, "  bend histogram", bars_))
                std::cout << line << '\n';
    }
    Json measures_json(const Measures& m) const {
        Json fields = Json::object();
        if (o_.details || o_.top) fields["details"] = details_json(m.details);
        if (m.histogram) fields["histogram"] = histogram_json(*m.histogram);
        return fields;
    }

    const CheckOptions& o_;
    host::Log& log_;
    const fs::path& plugin_;
    std::size_t entries_;
    bool bars_;                      // stdout is a terminal: histograms get bars
    geometry::BendHistogram all_;    // the histograms of all files checked
    std::vector<Json> file_fields_;  // kept for JSON only: what each file adds to its entry
    HtmlOutput* html_;
    std::optional<double> tolerance_;
    CheckTotals totals_;
    std::vector<FileResult> results_;  // kept for JSON only
    std::vector<FileFailure> failures_;
};

FileOutcome error_outcome(std::string message, ErrorCode code) {
    FileOutcome out;
    out.message = std::move(message);
    out.code = code;
    return out;
}

// One file's check as an outcome; `mesh` (when not null) receives the file's arrays for -o.
FileOutcome check_outcome(host::Host& host, const MeshInput& in, const CheckOptions& o, const fs::path& plugin,
                          Progress& progress, const std::string& counter, PolygonMesh* mesh) {
    try {
        Checked c = check_file(host, in.path, o, plugin, progress, counter);
        FileOutcome out;
        out.kind = FileOutcome::Kind::checked;
        out.result = std::move(c.result);
        out.tolerance = c.tolerance;
        out.measures = std::move(c.measures);
        if (mesh) *mesh = std::move(c.output);
        return out;
    } catch (const FileError& e) {
        progress.clear();
        return error_outcome(e.what(), e.code());
    } catch (const std::bad_alloc&) {
        progress.clear();
        return error_outcome(in.path + ": not enough memory to check it", ErrorCode::out_of_memory);
    }
}

// For a run of many files: the arrays one file frees are kept for the next instead of going back to the
// kernel, which would zero them again for the next file (some 8% of a run of small files). The heap still
// shrinks past 256 MB of free memory at its top.
void keep_freed_memory() {
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

std::size_t job_count(const CheckOptions& o, std::span<const MeshInput> inputs) {
    std::size_t checkable = 0;
    for (const MeshInput& in : inputs) checkable += in.error.empty();
    const std::size_t wanted = o.jobs ? *o.jobs : checkable > 1 ? available_cores() : 1;
    return std::min(wanted, checkable);
}

int check_all(host::Host& host, std::span<const MeshInput> inputs, const CheckOptions& o, const fs::path& plugin,
              const RunFiles& files, std::span<const fs::path> images, HtmlOutput* html) {
    Report report(o, host.log(), plugin, inputs.size(), html);
    // An entry's picture is written once its result is reported, as -o's mesh is.
    auto report_and_draw = [&](std::size_t i, FileOutcome&& out) {
        const std::vector<unsigned char> png = std::move(out.measures.image);
        const bool checked = out.kind == FileOutcome::Kind::checked;
        report.add(inputs[i], std::move(out));
        if (!checked || images.empty() || images[i].empty()) return;
        try {
            write_image(images[i], png, files);
        } catch (const FileError& e) {
            report.fail(images[i].string(), e.what(), e.code());
        }
    };
    if (inputs.size() > 1) keep_freed_memory();
    const std::size_t jobs = job_count(o, inputs);
    if (jobs >= 2 && !o.output) {
        // A worker checks in its own host; this process's host only collects the log.
        const CheckOne one = [&o, &plugin](host::Host& h, const MeshInput& in) {
            Progress none(false);
            return check_outcome(h, in, o, plugin, none, "", nullptr);
        };
        check_in_workers(inputs, jobs, one, [&](std::size_t i, FileOutcome&& out) {
            report.start(inputs[i]);
            report_and_draw(i, std::move(out));
        });
        return report.finish();
    }

    const host::HostScope bound(host);  // the settings parameter is read through the SDK
    Progress progress(::isatty(2) && !o.json && !o.log.verbose);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const MeshInput& in = inputs[i];
        report.start(in);
        if (!in.error.empty()) {
            report.add(in, error_outcome(in.error, in.code));
            continue;
        }
        const std::string counter =
            inputs.size() > 1 ? "[" + std::to_string(i + 1) + "/" + std::to_string(inputs.size()) + "] " : "";
        PolygonMesh mesh;
        FileOutcome out = check_outcome(host, in, o, plugin, progress, counter, o.output ? &mesh : nullptr);
        const bool write = o.output && out.kind == FileOutcome::Kind::checked;
        const std::vector<std::uint32_t> marked = write ? out.result.non_planar : std::vector<std::uint32_t>{};
        report_and_draw(i, std::move(out));
        if (write) {
            try {
                io::write_marked(*o.output, mesh, marked, files);
            } catch (const io::MeshError& e) {
                report.fail(o.output->string(), e.what(), e.code());
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
    if (o.list_non_planar && (o.details || o.top || o.histogram))
        throw UsageError("-l/--files-with-non-planar lists paths only, without --details, --top or --histogram");
    const std::vector<MeshInput> inputs = expand_meshes(o.meshes);
    if (o.output && inputs.size() != 1)
        throw UsageError("-o/--output takes exactly one input mesh, got the " + std::to_string(inputs.size()) +
                         " mesh files of the folder " + o.meshes.front());
    if (o.output) refuse_unwritable_format(*o.output);  // before any mesh is read
    const std::vector<fs::path> images = o.image ? image_paths(*o.image, inputs) : std::vector<fs::path>{};
    // Every file the run reads and writes. Of two outputs that are one file the later is refused: the
    // log (registered by its sink) rather than the report, the report rather than a picture or -o.
    RunFiles files;
    for (const MeshInput& in : inputs)
        if (in.error.empty()) files.add_input(in.path, role::input);
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
        if (o.html) html.emplace(*o.html, files, o.import_limits);
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
