// torvel check: each mesh in a fresh scene with a freshly loaded plug-in, whose Subset decides.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include <xsi_customproperty.h>

#include "app.h"
#include "host.h"
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

int check_all(host::Host& host, const CheckOptions& o) {
    const fs::path plugin = find_plugin(o.plugin);
    Progress progress(::isatty(2) && !o.json && !o.log.verbose);
    std::vector<FileResult> results;
    std::optional<double> tolerance;
    bool failed = false;
    for (std::size_t i = 0; i < o.meshes.size(); ++i) {
        const std::string counter =
            o.meshes.size() > 1 ? "[" + std::to_string(i + 1) + "/" + std::to_string(o.meshes.size()) + "] " : "";
        std::optional<Checked> c;
        try {
            c = check_file(host, o.meshes[i], o, plugin, progress, counter);
        } catch (const FileError& e) {
            progress.clear();
            std::cerr << "torvel: " << e.what() << '\n';
            failed = true;
            continue;
        }
        if (!tolerance) tolerance = c->tolerance;
        if (!o.json) std::cout << check_line(c->result, c->tolerance) << std::endl;
        if (o.output) {
            std::vector<RunFile> inputs;
            for (const std::string& m : o.meshes) inputs.push_back({m, "the input"});
            try {
                io::write_marked(*o.output, c->mesh, c->result.non_planar, inputs);
            } catch (const io::MeshError& e) {
                std::cerr << "torvel: " << e.what() << '\n';
                failed = true;
            }
        }
        results.push_back(std::move(c->result));
    }
    if (o.json) std::cout << check_json_text(tolerance.value_or(o.tolerance.value_or(45.0)), results) << std::endl;
    if (failed) return kExitError;
    const bool any =
        std::any_of(results.begin(), results.end(), [](const FileResult& r) { return !r.non_planar.empty(); });
    return any ? kExitNonPlanar : kExitClean;
}

}  // namespace

int run_check(const CheckOptions& o) {
    if (o.output && o.meshes.size() != 1)
        throw UsageError("-o/--output takes exactly one input mesh, got " + std::to_string(o.meshes.size()));
    if (o.output && o.log.file && same_file(*o.output, *o.log.file))
        throw UsageError("-o and --log name the same file " + o.output->string());
    host::Host host;
    const host::HostScope bound(host);  // the settings parameter is read through the SDK
    LogSink log(host.log(), o.log);
    for (const std::string& m : o.meshes) log.protect(m);
    int code = kExitError;
    try {
        code = check_all(host, o);
    } catch (...) {
        log.finish_after_error();
        throw;
    }
    log.finish();
    return code;
}

}  // namespace torvel::app
