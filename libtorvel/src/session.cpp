// Session: a host of its own per caller, bound to the SDK for one call at a time in the process.
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>

#include "file_session.h"
#include "host.h"
#include "json_text.h"
#include "measure.h"
#include "mesh_check.h"
#include "mesh_load.h"
#include "output_file.h"
#include "repair.h"
#include "run_files.h"
#include "text.h"
#include "torvel/torvel.h"

namespace torvel {

namespace fs = std::filesystem;

std::string_view version() { return TORVEL_VERSION; }

ErrorPlace error_place(const Error& e, std::string_view about) {
    ErrorPlace place;
    if (const auto* f = dynamic_cast<const FileError*>(&e)) place.path = f->file();
    if (const auto* m = dynamic_cast<const MeshError*>(&e)) place.path = m->file();
    if (const auto* h = dynamic_cast<const HostError*>(&e)) place.path = h->name();
    if (const auto* s = dynamic_cast<const ScriptError*>(&e)) place.line = s->line();
    const bool plugin = e.code() == ErrorCode::plugin_load || e.code() == ErrorCode::plugin_filter;
    if (place.path.empty() && !plugin) place.path = about;
    // The readers put the place at the front of the message; only digits up to ": " make a line.
    const std::string_view text = e.what();
    if (place.line == 0 && !place.path.empty() && text.size() > place.path.size() + 1 && text.starts_with(place.path) &&
        text[place.path.size()] == ':') {
        std::size_t k = place.path.size() + 1;
        long line = 0;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9' && line <= std::numeric_limits<int>::max() / 10)
            line = line * 10 + (text[k++] - '0');
        const bool digits = k > place.path.size() + 1;
        if (digits && line > 0 && line <= std::numeric_limits<int>::max() && text.substr(k, 2) == ": ")
            place.line = static_cast<int>(line);
    }
    return place;
}

double run_tolerance(std::optional<double> checked, std::optional<double> requested,
                     const std::optional<fs::path>& plugin) {
    if (checked) return *checked;
    if (requested) return *requested;
    try {
        SessionOptions options;
        options.plugin = plugin;
        return Session(std::move(options)).default_tolerance();
    } catch (const std::exception&) {
        return std::numeric_limits<double>::quiet_NaN();
    }
}

std::size_t FixReport::pieces() const {
    std::size_t n = 0;
    for (const SplitPolygon& s : splits) n += s.piece_count();
    return n;
}

namespace {

// Appends one entry per polygon of `mesh` (arrays already checked) to `out`.
void describe_into(const MeshView& mesh, MeshDescription& out) {
    const std::size_t n = mesh.polygon_count();
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    out.bend.reserve(out.bend.size() + n);
    out.out_of_plane.reserve(out.out_of_plane.size() + n);
    out.degenerate_corner.reserve(out.degenerate_corner.size() + n);
    out.degenerate_cause.reserve(out.degenerate_cause.size() + n);
    std::vector<double> corners;
    for (std::size_t p = 0; p < n; ++p) {
        corners.clear();
        for (std::uint32_t i = mesh.offsets[p]; i < mesh.offsets[p + 1]; ++i) {
            const std::size_t v = mesh.indices[i];
            corners.insert(corners.end(), mesh.positions.begin() + static_cast<std::ptrdiff_t>(3 * v),
                           mesh.positions.begin() + static_cast<std::ptrdiff_t>(3 * v + 3));
        }
        const geometry::PolygonShape shape = geometry::describe_polygon(corners);
        out.bend.push_back(shape.bend.value_or(kNaN));
        out.out_of_plane.push_back(shape.out_of_plane.value_or(kNaN));
        out.degenerate_corner.push_back(shape.degenerate ? std::int64_t{shape.degenerate->corner} : -1);
        out.degenerate_cause.push_back(shape.degenerate ? geometry::cause_text(shape.degenerate->cause)
                                                        : std::string_view());
    }
}

constexpr std::uintmax_t kBigFile = 64u << 20;  // reading this much takes over a second

// HostScope binds one current host per process: whichever session calls, the others wait.
std::mutex& host_mutex() {
    static std::mutex mutex;
    return mutex;
}

importer::Limits limits_of(const ImportLimits& l) {
    importer::Limits out;
    out.seconds = l.seconds;
    if (l.megabytes) out.megabytes = l.megabytes;
    return out;
}

// The objects the check put in the scene, in file order, named as the scene names them.
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

// One file's (or mesh's) check in `host`: `shown` names it in messages and the picture.
FileReport check_loaded(host::Host& host, const fs::path& plugin, LoadedFile& file, const std::string& shown,
                        const std::string& fallback, const CheckOptions& o) {
    FileReport out;
    FileSession session(host, plugin, o.tolerance);
    out.tolerance = session.tolerance();
    std::vector<PolygonMesh> objects = split_objects(file, fallback);
    std::vector<std::string> source_names;
    source_names.reserve(objects.size());
    for (const PolygonMesh& object : objects) source_names.push_back(object.source_name(0));
    if (o.mesh) out.mesh = joined_mesh(objects, file.named);
    const std::vector<XSI::CRef> meshes = session.add_objects(std::move(objects), shown);
    for (const std::string& warning : file.mesh.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));
    out.warnings = file.mesh.warnings;

    // Each object in turn with all its polygons selected, as a user applies the filter object by object.
    out.path = shown;
    out.precision = file.precision;
    std::uint32_t first = 0;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const auto* obj = host.store().find_as<host::MeshObject>(meshes[m]);
        ObjectReport r{to_utf8(obj->name), obj->mesh.polygon_count(), session.reported(meshes[m]), source_names[m]};
        for (const std::uint32_t i : r.non_planar) out.non_planar.push_back(first + i);
        first += r.polygons;
        out.objects.push_back(std::move(r));
    }
    out.polygons = first;
    if (o.describe_all) {
        out.description.emplace();
        for (const XSI::CRef& ref : meshes) {
            const host::Mesh& held = host.store().find_as<host::MeshObject>(ref)->mesh;
            describe_into({held.positions, held.offsets, held.indices}, *out.description);
        }
    }
    if (o.details || o.top || o.histogram || o.image || o.html_section) {
        try {
            measure_file(o, scene_objects(host, meshes, file.mesh.face_lines), out);
        } catch (const std::invalid_argument& e) {
            throw FileError(shown + ": " + e.what(), {}, ErrorCode::internal);
        }
    }
    return out;
}

XSI::CRef add_mesh(host::Host& host, const std::string& path, const std::wstring& name, PolygonMesh&& m) {
    try {
        return host.add_mesh(name, std::move(m));
    } catch (const host::HostError& e) {
        throw FileError(path + ": " + e.what(), {}, ErrorCode::parse);
    }
}

// A repair in `host`: `file` as read, its arrays moved to the scene (its objects and face lines stay).
// `view` receives the mesh as the scene holds it.
FixReport repair_loaded(host::Host& host, const fs::path& plugin, LoadedFile& file, const std::string& shown,
                        const std::string& name, const FixOptions& o, MeshView& view) {
    if (o.flatten && !(std::isfinite(*o.flatten) && *o.flatten >= 0))
        throw Error("the flatten limit " + number_text(*o.flatten) + " is not a finite number of 0 or more",
                    ErrorCode::usage);
    FixReport r;
    r.path = shown;
    r.warnings = file.mesh.warnings;
    for (const std::string& warning : file.mesh.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));
    const FileSession session(host, plugin, o.tolerance);
    r.tolerance = session.tolerance();
    try {
        PolygonMesh scene;
        scene.positions = std::move(file.mesh.positions);
        scene.offsets = std::move(file.mesh.offsets);
        scene.indices = std::move(file.mesh.indices);
        const std::wstring wname = from_utf8(name);
        const XSI::CRef object = add_mesh(host, shown, wname, std::move(scene));
        const host::Mesh& held = host.store().find_as<host::MeshObject>(object)->mesh;
        view = {held.positions, held.offsets, held.indices};
        r.polygons = static_cast<std::uint32_t>(view.polygon_count());
        FixStrategy strategy;
        if (o.flatten) strategy = {geometry::FlattenLimit{*o.flatten, o.flatten_share}, o.split_unflattened};
        MeshRepair fixed = repair_mesh(
            host, object, view, r.tolerance,
            [&](PolygonMesh pieces) { return add_mesh(host, shown, wname, std::move(pieces)); }, strategy);
        r.flatten = o.flatten.has_value();
        r.flattened = std::move(fixed.flattened);
        r.moves = std::move(fixed.moves);
        r.splits = std::move(fixed.splits);
        r.not_repaired = std::move(fixed.not_repaired);
    } catch (const host::HostError& e) {
        throw Error(plugin.string() + ": " + e.what(), ErrorCode::plugin_filter);
    }
    return r;
}

// Lossless when OUT is in the input's format; otherwise the repaired mesh is converted, with the
// polygons that were not repaired marked as check -o marks them.
void write_repaired(FixReport& r, const LoadedFile& file, const MeshView& mesh, const fs::path& out,
                    const RunFiles& files) {
    const std::optional<io::Format> in_format = file.format;
    if (in_format == io::format_of(out)) {
        OutputFile output(out, out.string(), &files, role::output);
        std::vector<io::MovedVertex> moves;
        moves.reserve(r.moves.size());
        for (const geometry::VertexMove& m : r.moves)
            moves.push_back({m.vertex, m.position[0], m.position[1], m.position[2]});
        try {
            io::write_split_polygons(
                file.source, mesh, file.mesh.face_lines, *in_format, r.path, r.splits,
                [&output](std::string_view part) { output.write(part); }, moves);
        } catch (const io::MeshError& e) {
            throw FileError(e);
        }
        output.commit();
    } else {
        std::vector<std::uint32_t> marked;
        // The unsplit polygons keep their order, so a not-repaired polygon's place is found by counting.
        std::uint32_t q = 0;
        std::size_t s = 0, k = 0;
        for (std::uint32_t p = 0; p < mesh.polygon_count(); ++p) {
            if (s < r.splits.size() && r.splits[s].polygon == p) {
                q += static_cast<std::uint32_t>(r.splits[s++].piece_count());
                continue;
            }
            if (k < r.not_repaired.size() && r.not_repaired[k].index == p) {
                marked.push_back(q);
                ++k;
            }
            ++q;
        }
        try {
            PolygonMesh repaired = repaired_mesh(mesh, file.mesh.objects, r.splits);
            geometry::apply_moves(repaired.positions, r.moves);
            io::write_marked(out, repaired, marked, files);
        } catch (const io::MeshError& e) {
            throw FileError(e);
        }
        r.converted = true;
    }
    r.output = out;
}

}  // namespace

struct Session::State {
    SessionOptions options;
    fs::path plugin;
    host::Host host;

    // Runs `work` with the host bound and its log sent to the observer; the log is emptied after.
    template <class Work>
    auto call(Work&& work) {
        const std::lock_guard lock(host_mutex());
        const host::HostScope bound(host);
        struct Unobserve {
            host::Log& log;
            ~Unobserve() {
                log.set_observer({});
                log.clear();
            }
        } unobserve{host.log()};
        if (options.log)
            host.log().set_observer([this](const host::LogEntry& e) {
                options.log(LogLine{static_cast<int>(e.severity), to_utf8(e.text)});
            });
        return work(host);
    }
};

Session::Session(SessionOptions options) : state_(std::make_unique<State>()) {
    state_->plugin = find_plugin(options.plugin);
    state_->options = std::move(options);
}

Session::~Session() = default;
Session::Session(Session&&) noexcept = default;
Session& Session::operator=(Session&&) noexcept = default;

const fs::path& Session::plugin() const { return state_->plugin; }

double Session::default_tolerance() {
    return state_->call([this](host::Host& host) { return torvel::default_tolerance(host, state_->plugin); });
}

FileReport Session::check_file(const fs::path& path, const CheckOptions& o) {
    return state_->call([&](host::Host& host) {
        using clock = std::chrono::steady_clock;
        const std::string shown = path.string();
        const auto start = clock::now();
        const auto& progress = state_->options.progress;
        std::error_code ec;
        bool told = false;
        if (const auto size = fs::file_size(path, ec); progress && !ec && size >= kBigFile) {
            progress(shown, std::nullopt);
            told = true;
        }
        LoadedFile file = load_mesh_file(path, limits_of(o.import_limits));
        const std::size_t polygons = file.mesh.polygon_count();
        // The filter takes about a microsecond per polygon: told when the file will take over a second.
        const std::chrono::duration<double> so_far = clock::now() - start;
        if (progress && (told || so_far.count() + static_cast<double>(polygons) * 1e-6 > 1.0))
            progress(shown, polygons);
        return check_loaded(host, state_->plugin, file, shown, path.stem().string(), o);
    });
}

FileReport Session::check_mesh(PolygonMesh mesh, const CheckOptions& o, const std::string& name) {
    check_mesh_arrays(mesh, true);
    return state_->call([&](host::Host& host) {
        LoadedFile file;
        file.named = !mesh.objects.empty();
        file.mesh = std::move(mesh);
        FileReport report = check_loaded(host, state_->plugin, file, name, name, o);
        report.path.clear();
        return report;
    });
}

FixReport Session::fix_file(const fs::path& path, const FixOptions& o) {
    return state_->call([&](host::Host& host) {
        const std::string shown = path.string();
        // Every file the repair reads and the ones it writes: an output that is one of them is refused.
        RunFiles files;
        files.add_input(path, role::input);
        files.add_input(state_->plugin, role::plugin);
        if (o.output) io::add_marked_outputs(files, *o.output);
        files.refuse_clashes();
        LoadedFile file = load_mesh_file(path, limits_of(o.import_limits), Keep::bytes);
        MeshView view;
        FixReport r = repair_loaded(host, state_->plugin, file, shown, path.stem().string(), o, view);
        if (o.output) write_repaired(r, file, view, *o.output, files);
        return r;
    });
}

FixReport Session::fix_mesh(PolygonMesh mesh, const FixOptions& o) {
    check_mesh_arrays(mesh, true);
    return state_->call([&](host::Host& host) {
        LoadedFile file;
        file.mesh = std::move(mesh);
        MeshView view;
        FixReport r = repair_loaded(host, state_->plugin, file, "mesh", "mesh", o, view);
        r.path.clear();
        r.mesh = repaired_mesh(view, file.mesh.objects, r.splits, &r.source_polygon);
        geometry::apply_moves(r.mesh.positions, r.moves);
        return r;
    });
}

std::string Session::plugin_info_json() {
    return state_->call([this](host::Host& host) {
        host.new_scene();
        Json info;
        try {
            const host::PluginLibrary& lib = host.plugins().load(state_->plugin);
            // The page is built as a host builds it before showing the property.
            for (const XSI::CRef& prop : host.root().properties) host.define_layout(prop);
            info = plugin_info(host, lib);
        } catch (...) {
            host.plugins().shutdown();
            throw;
        }
        host.plugins().shutdown();
        return json_text(info, 2);
    });
}

MeshDescription describe(const MeshView& mesh) {
    check_mesh_arrays(mesh, false);
    MeshDescription out;
    describe_into(mesh, out);
    return out;
}

}  // namespace torvel
