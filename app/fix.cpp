// torvel fix: the polygons the filter reports are split into the fewest pieces it does not report, the
// filter is asked again about the repaired mesh, and only the split faces of the file are rewritten.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app.h"
#include "host.h"
#include "mesh_io.h"
#include "mesh_rewrite.h"
#include "names.h"
#include "plugin_registry.h"
#include "plugin_session.h"
#include "polygon_split.h"
#include "report.h"

namespace torvel::app {

namespace {

struct NotRepaired {
    std::uint32_t index = 0;
    std::string reason;
};

struct Repair {
    std::string path;
    double tolerance = 0;
    io::MeshData mesh;                      // as read
    std::vector<io::PolygonPieces> splits;  // ascending polygon order
    std::vector<NotRepaired> not_repaired;  // ascending
    io::MeshData repaired;                  // `mesh` with the splits applied
    std::optional<fs::path> output;         // written (not for --dry-run)
    bool converted = false;

    std::size_t pieces() const {
        std::size_t n = 0;
        for (const io::PolygonPieces& s : splits) n += s.piece_count();
        return n;
    }
};

std::vector<double> corner_positions(const io::MeshData& mesh, std::uint32_t polygon,
                                     std::span<const std::uint32_t> corners = {}) {
    std::vector<double> out;
    const std::uint32_t first = mesh.offsets[polygon], n = mesh.offsets[polygon + 1] - first;
    auto add = [&](std::uint32_t c) {
        const std::size_t v = mesh.indices[first + c];
        out.insert(out.end(), mesh.positions.begin() + static_cast<std::ptrdiff_t>(3 * v),
                   mesh.positions.begin() + static_cast<std::ptrdiff_t>(3 * v + 3));
    };
    if (corners.empty())
        for (std::uint32_t c = 0; c < n; ++c) add(c);
    for (std::uint32_t c : corners) add(c);
    return out;
}

// Where each polygon of a repaired mesh comes from: a split (its place in the list) and piece, or -1.
struct Origin {
    std::int64_t split = -1;
    std::uint32_t piece = 0;
};

io::MeshData apply_splits(const io::MeshData& mesh, std::span<const io::PolygonPieces> splits,
                          std::vector<Origin>& origin) {
    io::MeshData out;
    out.positions = mesh.positions;
    origin.clear();
    std::size_t s = 0;
    for (std::uint32_t p = 0; p < mesh.polygon_count(); ++p) {
        const std::uint32_t first = mesh.offsets[p];
        if (s < splits.size() && splits[s].polygon == p) {
            const io::PolygonPieces& split = splits[s];
            for (std::uint32_t k = 0; k < split.piece_count(); ++k) {
                for (std::uint32_t i = split.offsets[k]; i < split.offsets[k + 1]; ++i)
                    out.indices.push_back(mesh.indices[first + split.corners[i]]);
                out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
                origin.push_back({static_cast<std::int64_t>(s), k});
            }
            ++s;
            continue;
        }
        out.indices.insert(out.indices.end(), mesh.indices.begin() + first, mesh.indices.begin() + mesh.offsets[p + 1]);
        out.offsets.push_back(static_cast<std::uint32_t>(out.indices.size()));
        origin.push_back({});
    }
    return out;
}

// The polygons of `mesh` (a scene object) that the filter leaves selected, ascending.
std::vector<std::uint32_t> reported_polygons(host::Host& host, const XSI::CRef& mesh, const fs::path& plugin) {
    host.selection() = {host.make_component_item(mesh, XSI::siPolygonFaceID, {})};
    host::FilterResult filtered;
    try {
        filtered = host::run_filter(host, torvel_filter::kFilterName, host.selection());
    } catch (const HostError& e) {
        throw std::runtime_error(plugin.string() + ": " + e.what());
    }
    std::vector<std::uint32_t> out = std::move(filtered.remaining.front());
    std::sort(out.begin(), out.end());
    return out;
}

XSI::CRef add_mesh(host::Host& host, const std::string& path, const std::wstring& name, const io::MeshData& m) {
    try {
        return host.add_mesh(name, m.positions, m.offsets, m.indices);
    } catch (const host::HostError& e) {
        throw FileError(path + ": " + e.what());
    }
}

// The pieces the filter still reports are split into triangles; a polygon one of whose pieces cannot be
// is left as it was. True when anything changed.
bool triangulate_reported(Repair& r, std::span<const std::uint32_t> reported, std::span<const Origin> origin) {
    std::vector<std::vector<std::vector<std::uint32_t>>> pieces(r.splits.size());
    std::vector<bool> touched(r.splits.size()), dropped(r.splits.size());
    for (std::uint32_t q : reported) {
        const Origin o = origin[q];
        if (o.split < 0) continue;  // a polygon that was not repaired
        const auto s = static_cast<std::size_t>(o.split);
        if (dropped[s]) continue;  // told once
        io::PolygonPieces& split = r.splits[s];
        if (!touched[s]) {
            for (std::uint32_t k = 0; k < split.piece_count(); ++k)
                pieces[s].push_back(
                    {split.corners.begin() + split.offsets[k], split.corners.begin() + split.offsets[k + 1]});
            touched[s] = true;
        }
        const std::vector<std::uint32_t> piece = pieces[s][o.piece];
        const geometry::SplitResult tri = geometry::triangulate_polygon(corner_positions(r.mesh, split.polygon, piece));
        if (!tri.ok) {
            r.not_repaired.push_back(
                {split.polygon, "a piece the filter still reports cannot be split into triangles: " + tri.reason});
            dropped[s] = true;
            continue;
        }
        // The piece becomes its triangles, in its place; the pieces after it move along.
        std::vector<std::vector<std::uint32_t>> triangles;
        for (std::size_t t = 0; t < tri.piece_count(); ++t) {
            std::vector<std::uint32_t> corners;
            for (std::uint32_t c : tri.piece(t)) corners.push_back(piece[c]);
            triangles.push_back(std::move(corners));
        }
        pieces[s][o.piece] = std::move(triangles.front());
        pieces[s].insert(pieces[s].end(), std::make_move_iterator(triangles.begin() + 1),
                         std::make_move_iterator(triangles.end()));
    }
    bool changed = false;
    std::vector<io::PolygonPieces> kept;
    for (std::size_t s = 0; s < r.splits.size(); ++s) {
        if (dropped[s]) {
            changed = true;
            continue;
        }
        if (touched[s]) {
            io::PolygonPieces redone{r.splits[s].polygon, {0}, {}};
            for (const auto& piece : pieces[s]) {
                redone.corners.insert(redone.corners.end(), piece.begin(), piece.end());
                redone.offsets.push_back(static_cast<std::uint32_t>(redone.corners.size()));
            }
            r.splits[s] = std::move(redone);
            changed = true;
        }
        kept.push_back(std::move(r.splits[s]));
    }
    r.splits = std::move(kept);
    std::sort(r.not_repaired.begin(), r.not_repaired.end(),
              [](const NotRepaired& a, const NotRepaired& b) { return a.index < b.index; });
    return changed;
}

Repair repair_file(host::Host& host, const std::string& path, const FixOptions& o, const fs::path& plugin) {
    Repair r;
    r.path = path;
    try {
        r.mesh = io::read_mesh(path);
    } catch (const io::MeshError& e) {
        throw FileError(e.what());
    }
    for (const std::string& warning : r.mesh.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));

    host.new_scene();
    LoadedPlugin loaded(host, plugin);
    r.tolerance = settings_tolerance(host, o.tolerance);
    if (!host.plugins().find_item(torvel_filter::kFilterName))
        throw std::runtime_error(plugin.string() + ": registers no filter " + to_utf8(torvel_filter::kFilterName));
    const std::wstring name = from_utf8(fs::path(path).stem().string());
    for (std::uint32_t p : reported_polygons(host, add_mesh(host, path, name, r.mesh), plugin)) {
        geometry::SplitResult s = geometry::split_polygon(corner_positions(r.mesh, p), r.tolerance);
        if (!s.ok)
            r.not_repaired.push_back({p, std::move(s.reason)});
        else
            r.splits.push_back({p, std::move(s.offsets), std::move(s.corners)});
    }

    // The filter, not the host's measure of a bend, has the last word on every piece.
    std::vector<Origin> origin;
    r.repaired = apply_splits(r.mesh, r.splits, origin);
    const std::vector<std::uint32_t> still = reported_polygons(host, add_mesh(host, path, name, r.repaired), plugin);
    if (triangulate_reported(r, still, origin)) r.repaired = apply_splits(r.mesh, r.splits, origin);
    // A polygon the filter reported but that needed no cut stays as it is.
    std::erase_if(r.splits, [](const io::PolygonPieces& s) { return s.piece_count() < 2; });
    return r;
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) throw FileError(path + ": cannot read it again to write the repaired file");
    return bytes;
}

// Lossless when OUT is in the input's format; otherwise the repaired mesh is converted, with the
// polygons that were not repaired marked as check -o marks them.
void write_repaired(Repair& r, const fs::path& out, std::span<const RunFile> protect) {
    const io::Format in_format = io::format_of(r.path), out_format = io::format_of(out);
    if (in_format == out_format) {
        std::string bytes;
        try {
            bytes = io::split_polygons_in_file(read_bytes(r.path), in_format, r.path, r.splits, &r.mesh);
        } catch (const io::MeshError& e) {
            throw FileError(e.what());
        }
        OutputFile file(out, out.string(), protect);
        file.write(bytes);
        file.commit();
    } else {
        std::vector<std::uint32_t> marked;
        std::vector<Origin> origin;
        r.repaired = apply_splits(r.mesh, r.splits, origin);
        // The unsplit polygons keep their order, so a not-repaired polygon's place is found by counting.
        std::uint32_t q = 0, p = 0;
        std::size_t s = 0, k = 0;
        for (; p < r.mesh.polygon_count(); ++p) {
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
            io::write_marked(out, r.repaired, marked, protect);
        } catch (const io::MeshError& e) {
            throw FileError(e.what());
        }
        r.converted = true;
    }
    r.output = out;
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void print_text(const Repair& r) {
    std::cout << r.path << ": " << plural(r.splits.size(), "polygon", "polygons") << " split into "
              << plural(r.pieces(), "piece", "pieces") << ", " << r.not_repaired.size() << " not repaired at "
              << format_number(r.tolerance) << "\u00b0\n";
    for (const NotRepaired& n : r.not_repaired)
        std::cout << r.path << ": polygon " << n.index << " not repaired: " << n.reason << '\n';
    if (r.converted)
        std::cout << r.path << ": converted to " << r.output->string() << " (" << r.path.substr(r.path.rfind('.') + 1)
                  << " read, " << r.output->extension().string().substr(1) << " written)\n";
    std::cout << std::flush;
}

Json file_json(const Repair& r) {
    Json split = Json::array(), not_repaired = Json::array();
    for (const io::PolygonPieces& s : r.splits) {
        Json pieces = Json::array();
        for (std::uint32_t k = 0; k < s.piece_count(); ++k)
            pieces.push_back(
                std::vector<std::uint32_t>(s.corners.begin() + s.offsets[k], s.corners.begin() + s.offsets[k + 1]));
        split.push_back({{"index", s.polygon}, {"pieces", std::move(pieces)}});
    }
    for (const NotRepaired& n : r.not_repaired) not_repaired.push_back({{"index", n.index}, {"reason", n.reason}});
    return {{"path", r.path},
            {"polygons", r.mesh.polygon_count()},
            {"split", std::move(split)},
            {"pieces", r.pieces()},
            {"not_repaired", std::move(not_repaired)},
            {"output", r.output ? Json(r.output->string()) : Json(nullptr)},
            {"converted", r.converted}};
}

}  // namespace

int run_fix(const FixOptions& o) {
    if (!o.output && !o.dry_run) throw UsageError("-o/--output is required (or --dry-run to only report)");
    if (o.output) refuse_unwritable_format(*o.output);
    host::Host host;
    LogSink log(host.log(), o.log);
    Json errors = Json::array();
    std::optional<Repair> repair;
    try {
        const fs::path plugin = find_plugin(o.plugin);
        std::vector<RunFile> protect = {{o.mesh, "the input"}, {plugin, "the plug-in library"}};
        for (const RunFile& f : protect) log.protect(f);
        if (o.log.file) protect.push_back({*o.log.file, "the log"});
        if (o.output && !o.dry_run) {
            // Refused before any work; OutputFile checks again when it writes.
            for (const fs::path& f : io::marked_files(*o.output)) {
                if (const RunFile* clash = clashing_file(f, protect))
                    throw FileError(o.output->string() + ": refusing to overwrite " + clash->role + " " +
                                    clash->path.string());
                log.protect({f, "the output"});
            }
        }
        log.check_protected();
        host.log().add(XSI::siVerboseMsg, L"repairing " + from_utf8(o.mesh));
        const host::HostScope bound(host);
        try {
            repair = repair_file(host, o.mesh, o, plugin);
            if (o.output && !o.dry_run) write_repaired(*repair, *o.output, protect);
        } catch (const FileError& e) {
            host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
            std::cerr << "torvel: " << e.what() << '\n';
            errors.push_back({{"path", e.file().empty() ? o.mesh : e.file()}, {"message", e.what()}});
        }
    } catch (const std::exception& e) {
        host.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        log.finish_after_error();
        throw;
    }
    log.finish();
    if (o.json) {
        Json files = Json::array();
        if (repair && errors.empty()) files.push_back(file_json(*repair));
        const double tolerance = repair ? repair->tolerance : o.tolerance.value_or(45.0);
        std::cout << json_text(Json{{"tolerance", tolerance}, {"files", files}, {"errors", errors}}) << std::endl;
    } else if (repair && errors.empty()) {
        print_text(*repair);
    }
    if (!errors.empty()) return kExitError;
    return repair->not_repaired.empty() ? kExitClean : kExitNonPlanar;
}

}  // namespace torvel::app
