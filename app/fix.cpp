// torvel fix: the polygons the filter reports are split into the fewest pieces it does not report, the
// filter is asked again about the repaired mesh, and only the split faces of the file are rewritten.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app.h"
#include "host.h"
#include "mesh_io.h"
#include "mesh_load.h"
#include "mesh_rewrite.h"
#include "names.h"
#include "plugin_session.h"
#include "repair.h"
#include "report.h"

namespace torvel::app {

namespace {

struct Repair {
    std::string path;
    double tolerance = 0;
    io::MeshData mesh;               // as read (the objects of a file read through Assimp joined)
    MeshRepair fixed;                // splits, not repaired, the repaired mesh
    std::optional<fs::path> output;  // written (not for --dry-run)
    bool converted = false;
};

XSI::CRef add_mesh(host::Host& host, const std::string& path, const std::wstring& name, const io::MeshData& m) {
    try {
        return host.add_mesh(name, m.positions, m.offsets, m.indices);
    } catch (const host::HostError& e) {
        throw FileError(path + ": " + e.what());
    }
}

Repair repair_file(host::Host& host, const std::string& path, const FixOptions& o, const fs::path& plugin) {
    Repair r;
    r.path = path;
    if (io::format_named(path)) {
        try {
            r.mesh = io::read_mesh(path);
        } catch (const io::MeshError& e) {
            throw FileError(e.what());
        }
    } else {
        // Written only converted, so its objects are joined as check -o joins them.
        LoadedFile loaded = load_mesh_file(path, fs::path(path).stem().string(), o.import_limits);
        std::vector<std::string> warnings = std::move(loaded.warnings);
        r.mesh = joined_mesh(std::move(loaded));
        r.mesh.warnings = std::move(warnings);
    }
    for (const std::string& warning : r.mesh.warnings) host.log().add(XSI::siWarningMsg, from_utf8(warning));

    host.new_scene();
    LoadedPlugin loaded(host, plugin);
    r.tolerance = settings_tolerance(host, o.tolerance);
    if (!host.plugins().find_item(torvel_filter::kFilterName))
        throw std::runtime_error(plugin.string() + ": registers no filter " + to_utf8(torvel_filter::kFilterName));
    const std::wstring name = from_utf8(fs::path(path).stem().string());
    try {
        r.fixed = repair_mesh(host, add_mesh(host, path, name, r.mesh), r.mesh, r.tolerance,
                              [&](const io::MeshData& m) { return add_mesh(host, path, name, m); });
    } catch (const host::HostError& e) {
        throw std::runtime_error(plugin.string() + ": " + e.what());
    }
    return r;
}

std::string read_bytes(const std::string& path) {
    // In one read of the size the file has: a character at a time costs as much as the rewrite.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes;
    if (in) {
        bytes.resize(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!in || in.peek() != std::char_traits<char>::eof())
        throw FileError(path + ": cannot read it again to write the repaired file");
    return bytes;
}

// Lossless when OUT is in the input's format; otherwise the repaired mesh is converted, with the
// polygons that were not repaired marked as check -o marks them.
void write_repaired(Repair& r, const fs::path& out, std::span<const RunFile> protect) {
    const std::optional<io::Format> in_format = io::format_named(r.path);
    if (in_format == io::format_of(out)) {
        std::string bytes;
        try {
            bytes = io::split_polygons_in_file(read_bytes(r.path), *in_format, r.path, r.fixed.splits, &r.mesh);
        } catch (const io::MeshError& e) {
            throw FileError(e.what());
        }
        OutputFile file(out, out.string(), protect);
        file.write(bytes);
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
            io::write_marked(out, r.fixed.repaired, marked, protect);
        } catch (const io::MeshError& e) {
            throw FileError(e.what());
        }
        r.converted = true;
    }
    r.output = out;
}

void print_text(const Repair& r) {
    std::cout << r.path << ": " << r.fixed.summary(r.tolerance) << '\n';
    for (const NotRepaired& n : r.fixed.not_repaired)
        std::cout << r.path << ": polygon " << n.index << " not repaired: " << n.reason << '\n';
    if (r.converted)
        std::cout << r.path << ": converted to " << r.output->string() << " (" << r.path.substr(r.path.rfind('.') + 1)
                  << " read, " << r.output->extension().string().substr(1) << " written)\n";
    std::cout << std::flush;
}

Json file_json(const Repair& r) {
    Json split = Json::array(), not_repaired = Json::array();
    for (const io::PolygonPieces& s : r.fixed.splits) {
        Json pieces = Json::array();
        for (std::uint32_t k = 0; k < s.piece_count(); ++k)
            pieces.push_back(
                std::vector<std::uint32_t>(s.corners.begin() + s.offsets[k], s.corners.begin() + s.offsets[k + 1]));
        split.push_back({{"index", s.polygon}, {"pieces", std::move(pieces)}});
    }
    for (const NotRepaired& n : r.fixed.not_repaired)
        not_repaired.push_back({{"index", n.index}, {"reason", n.reason}});
    return {{"path", r.path},
            {"polygons", r.mesh.polygon_count()},
            {"split", std::move(split)},
            {"pieces", r.fixed.pieces()},
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
    return repair->fixed.not_repaired.empty() ? kExitClean : kExitNonPlanar;
}

}  // namespace torvel::app
