// torvel fix: the polygons the filter reports are split into the fewest pieces it does not report, the
// filter is asked again about the pieces, and only the split faces of the file are rewritten.
#include <algorithm>
#include <charconv>
#include <iostream>
#include <iterator>

#include "app.h"
#include "host.h"
#include "mesh_io.h"
#include "mesh_load.h"
#include "mesh_rewrite.h"
#include "file_session.h"
#include "repair.h"
#include "report.h"

namespace torvel::app {

namespace {

struct Repair {
    std::string path;
    double tolerance = 0;
    // As read (a file read through Assimp as one mesh, its objects one after another, written only
    // converted), its positions, offsets and corners moved to the scene; the bytes only of a file torvel
    // reads itself.
    LoadedFile file;
    MeshView mesh;                   // the mesh as the scene holds it
    MeshRepair fixed;                // splits, not repaired
    std::optional<fs::path> output;  // written (not for --dry-run)
    bool converted = false;
};

XSI::CRef add_mesh(host::Host& host, const std::string& path, const std::wstring& name, PolygonMesh&& m) {
    try {
        return host.add_mesh(name, std::move(m));
    } catch (const host::HostError& e) {
        throw FileError(path + ": " + e.what(), {}, ErrorCode::parse);
    }
}

Repair repair_file(host::Host& host, const std::string& path, const FixOptions& o, const fs::path& plugin) {
    Repair r;
    r.path = path;
    r.file = load_mesh_file(path, o.import_limits, Keep::bytes);
    for (const std::string& warning : r.file.mesh.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));

    const FileSession session(host, plugin, o.tolerance);
    r.tolerance = session.tolerance();
    const std::wstring name = from_utf8(fs::path(path).stem().string());
    try {
        // The scene takes the arrays; the file keeps its objects and face lines for the output.
        PolygonMesh scene;
        scene.positions = std::move(r.file.mesh.positions);
        scene.offsets = std::move(r.file.mesh.offsets);
        scene.indices = std::move(r.file.mesh.indices);
        const XSI::CRef object = add_mesh(host, path, name, std::move(scene));
        const host::Mesh& held = host.store().find_as<host::MeshObject>(object)->mesh;
        r.mesh = {held.positions, held.offsets, held.indices};
        FixStrategy strategy;
        if (o.flatten) strategy = {geometry::FlattenLimit{*o.flatten, o.flatten_share}, o.split_unflattened};
        r.fixed = repair_mesh(
            host, object, r.mesh, r.tolerance,
            [&](PolygonMesh pieces) { return add_mesh(host, path, name, std::move(pieces)); }, strategy);
    } catch (const host::HostError& e) {
        throw Error(plugin.string() + ": " + e.what(), ErrorCode::plugin_filter);
    }
    return r;
}

// Lossless when OUT is in the input's format; otherwise the repaired mesh is converted, with the
// polygons that were not repaired marked as check -o marks them.
void write_repaired(Repair& r, const fs::path& out, const RunFiles& files) {
    const std::optional<io::Format> in_format = r.file.format;
    if (in_format == io::format_of(out)) {
        OutputFile file(out, out.string(), &files, role::output);
        std::vector<io::MovedVertex> moves;
        for (const geometry::VertexMove& m : r.fixed.moves)
            moves.push_back({m.vertex, m.position[0], m.position[1], m.position[2]});
        try {
            io::write_split_polygons(
                r.file.source, r.mesh, r.file.mesh.face_lines, *in_format, r.path, r.fixed.splits,
                [&file](std::string_view part) { file.write(part); }, moves);
        } catch (const io::MeshError& e) {
            throw FileError(e);
        }
        file.commit();
    } else {
        std::vector<std::uint32_t> marked;
        // The unsplit polygons keep their order, so a not-repaired polygon's place is found by counting.
        std::uint32_t q = 0, p = 0;
        std::size_t s = 0, k = 0;
        for (; p < r.mesh.polygon_count(); ++p) {
            if (s < r.fixed.splits.size() && r.fixed.splits[s].polygon == p) {
                q += static_cast<std::uint32_t>(r.fixed.splits[s++].piece_count());
                continue;
            }
            if (k < r.fixed.not_repaired.size() && r.fixed.not_repaired[k].index == p) {
                marked.push_back(q);
                ++k;
            }
            ++q;
        }
        try {
            PolygonMesh repaired = repaired_mesh(r.mesh, r.file.mesh.objects, r.fixed.splits);
            geometry::apply_moves(repaired.positions, r.fixed.moves);
            io::write_marked(out, repaired, marked, files);
        } catch (const io::MeshError& e) {
            throw FileError(e);
        }
        r.converted = true;
    }
    r.output = out;
}

void print_text(const Repair& r) {
    std::cout << r.path << ": " << r.fixed.summary(r.tolerance) << '\n';
    if (const std::string flattened = r.fixed.flattened_summary(); !flattened.empty()) {
        std::cout << r.path << ": " << flattened << '\n';
        for (const Flattened& f : r.fixed.flattened)
            std::cout << r.path << ": polygon " << f.index << " flattened, its corners moved by up to "
                      << format_number(f.largest_move) << '\n';
    }
    if (const std::string unproven = r.fixed.not_fewest_summary(); !unproven.empty())
        std::cout << r.path << ": " << unproven << '\n';
    for (const NotRepaired& n : r.fixed.not_repaired)
        std::cout << r.path << ": polygon " << n.index << " not repaired: " << n.reason << '\n';
    if (r.converted)
        std::cout << r.path << ": converted to " << r.output->string() << " (" << r.path.substr(r.path.rfind('.') + 1)
                  << " read, " << r.output->extension().string().substr(1) << " written)\n";
    std::cout << std::flush;
}

void append_number(std::string& out, std::uint64_t n) {
    char buf[24];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}

// The document as the library would write it (with `flatten`, the flattened polygons and moved vertices
// too); the split list, which can have millions of numbers, is
// written here directly rather than built as JSON values first.
std::string fix_json_text(double tolerance, const Repair* r, const Json& errors, bool flatten) {
    std::string out = "{\"tolerance\":" + json_text(Json(tolerance)) + ",\"files\":[";
    if (r) {
        out += "{\"path\":" + json_text(Json(r->path)) + ",\"polygons\":";
        append_number(out, r->mesh.polygon_count());
        out += ",\"split\":[";
        out.reserve(out.size() + 48 * r->fixed.splits.size() + 8 * r->fixed.pieces());
        auto unproven = r->fixed.not_fewest.begin();  // ascending, as the splits are
        for (const io::PolygonPieces& s : r->fixed.splits) {
            out += &s == r->fixed.splits.data() ? "{\"index\":" : ",{\"index\":";
            append_number(out, s.polygon);
            out += ",\"pieces\":[";
            for (std::uint32_t k = 0; k < s.piece_count(); ++k) {
                out += k ? ",[" : "[";
                for (std::uint32_t i = s.offsets[k]; i < s.offsets[k + 1]; ++i) {
                    if (i > s.offsets[k]) out += ',';
                    append_number(out, s.corners[i]);
                }
                out += ']';
            }
            const bool fewest = unproven == r->fixed.not_fewest.end() || unproven->index != s.polygon;
            if (!fewest) ++unproven;
            out += fewest ? "],\"fewest\":true}" : "],\"fewest\":false}";
        }
        Json not_repaired = Json::array();
        for (const NotRepaired& n : r->fixed.not_repaired)
            not_repaired.push_back({{"index", n.index}, {"reason", n.reason}});
        out += "],\"pieces\":";
        append_number(out, r->fixed.pieces());
        if (flatten) {
            out += ",\"flattened\":[";
            for (const Flattened& f : r->fixed.flattened)
                out += std::string(&f == r->fixed.flattened.data() ? "" : ",") +
                       "{\"index\":" + std::to_string(f.index) +
                       ",\"largest_move\":" + json_text(Json(f.largest_move)) + "}";
            out += "],\"moved_vertices\":[";
            for (const geometry::VertexMove& m : r->fixed.moves)
                out += std::string(&m == r->fixed.moves.data() ? "" : ",") + "{\"vertex\":" + std::to_string(m.vertex) +
                       ",\"distance\":" + json_text(Json(m.distance)) + ",\"position\":" + json_text(Json(m.position)) +
                       "}";
            out += "]";
        }
        out += ",\"not_repaired\":" + json_text(not_repaired) +
               ",\"output\":" + (r->output ? json_text(Json(r->output->string())) : "null") +
               ",\"converted\":" + (r->converted ? "true" : "false") + "}";
    }
    return out + "],\"errors\":" + json_text(errors) + "}";
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
    Json errors = Json::array();
    std::optional<Repair> repair;
    fs::path plugin;
    try {
        plugin = find_plugin(o.plugin);
        files.add_input(plugin, role::plugin);
        // Refused before any work; OutputFile checks again when it writes.
        files.refuse_clashes();
        host.log().add(XSI::siVerboseMsg, L"repairing " + from_utf8(o.mesh));
        const host::HostScope bound(host);
        try {
            repair = repair_file(host, o.mesh, o, plugin);
            if (o.output && !o.dry_run) write_repaired(*repair, *o.output, files);
        } catch (const FileError& e) {
            host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
            std::cerr << "torvel: " << e.what() << '\n';
            errors.push_back({{"path", e.file().empty() ? o.mesh : e.file()},
                              {"message", e.what()},
                              {"code", std::string(error_id(e.code()))}});
        }
    } catch (const std::exception& e) {
        host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        log.finish_after_error();
        throw;
    }
    log.finish();
    if (o.json) {
        const double tolerance = repair ? repair->tolerance : run_tolerance(o.tolerance, plugin);
        std::cout << fix_json_text(tolerance, repair && errors.empty() ? &*repair : nullptr, errors,
                                   o.flatten.has_value())
                  << std::endl;
    } else if (repair && errors.empty()) {
        print_text(*repair);
    }
    if (!errors.empty()) return kExitError;
    return repair->fixed.not_repaired.empty() ? kExitClean : kExitNonPlanar;
}

}  // namespace torvel::app
