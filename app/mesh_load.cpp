// Mesh files by extension: torvel's own readers or Assimp in a child process, as objects.
#include "mesh_load.h"

#include <algorithm>

#include "app.h"

namespace torvel::app {

namespace {

// Names become parts of full names ("Scene_Root.NAME"), where '.' separates; control characters would
// break the lines of the log and of -o's OBJ.
std::string object_name(std::string name, const std::string& fallback) {
    if (name.empty()) name = fallback;
    for (char& c : name)
        if (c == '.' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    return name.empty() ? "mesh" : name;
}

// The objects of an OBJ file with `o` statements, each with the vertices its polygons use, in the file's
// vertex order. The vertices are gathered per object through one array stamped with the object's number,
// so the cost is that of the indices, not of the vertices times the objects.
std::vector<LoadedObject> split_objects(const io::MeshData& mesh, const std::string& fallback) {
    std::vector<LoadedObject> out;
    constexpr std::uint32_t kNone = 0xffffffffu;
    std::vector<std::uint32_t> stamp(mesh.vertex_count(), kNone), renumbered(mesh.vertex_count());
    for (std::size_t j = 0; j < mesh.objects.size(); ++j) {
        const std::uint32_t first = mesh.objects[j].first;
        const auto last =
            j + 1 < mesh.objects.size() ? mesh.objects[j + 1].first : static_cast<std::uint32_t>(mesh.polygon_count());
        LoadedObject o;
        o.source_name = mesh.objects[j].name;
        o.name = object_name(o.source_name, fallback);
        std::vector<std::uint32_t> used;
        for (std::uint32_t k = mesh.offsets[first]; k < mesh.offsets[last]; ++k)
            if (const std::uint32_t v = mesh.indices[k]; stamp[v] != j) {
                stamp[v] = static_cast<std::uint32_t>(j);
                used.push_back(v);
            }
        std::sort(used.begin(), used.end());
        o.positions.reserve(3 * used.size());
        for (std::size_t i = 0; i < used.size(); ++i) {
            renumbered[used[i]] = static_cast<std::uint32_t>(i);
            o.positions.insert(o.positions.end(), mesh.positions.begin() + 3 * std::ptrdiff_t(used[i]),
                               mesh.positions.begin() + 3 * std::ptrdiff_t(used[i]) + 3);
        }
        o.offsets.reserve(last - first + 1);
        for (std::uint32_t p = first; p < last; ++p) o.offsets.push_back(mesh.offsets[p + 1] - mesh.offsets[first]);
        o.indices.reserve(mesh.offsets[last] - mesh.offsets[first]);
        for (std::uint32_t k = mesh.offsets[first]; k < mesh.offsets[last]; ++k)
            o.indices.push_back(renumbered[mesh.indices[k]]);
        out.push_back(std::move(o));
    }
    return out;
}

LoadedFile read_own(const fs::path& path, const std::string& fallback) {
    io::MeshData mesh;
    try {
        mesh = io::read_mesh(path);
    } catch (const io::MeshError& e) {
        throw FileError(e.what());
    }
    LoadedFile file;
    file.warnings = std::move(mesh.warnings);
    file.face_lines = std::move(mesh.face_lines);
    if (mesh.objects.size() > 1) {
        file.objects = split_objects(mesh, fallback);
    } else {
        // One object keeps the file's arrays as they are (every vertex, used or not).
        LoadedObject o;
        if (!mesh.objects.empty()) o.source_name = mesh.objects.front().name;
        o.name = object_name(o.source_name, fallback);
        o.positions = std::move(mesh.positions);
        o.offsets = std::move(mesh.offsets);
        o.indices = std::move(mesh.indices);
        file.objects.push_back(std::move(o));
    }
    file.named = !mesh.objects.empty();
    return file;
}

LoadedFile read_imported(const fs::path& path, const std::string& fallback, const importer::Limits& limits) {
    importer::ImportResult imported;
    try {
        imported = importer::import_file(path, limits);
    } catch (const importer::ImportError& e) {
        throw FileError(e.what());
    }
    LoadedFile file;
    file.precision = "single";
    file.named = true;
    file.warnings = std::move(imported.messages);
    for (importer::ImportedObject& in : imported.objects) {
        LoadedObject o;
        o.source_name = std::move(in.source_name);
        o.name = object_name(std::move(in.name), fallback);
        o.positions = std::move(in.positions);
        o.offsets = std::move(in.offsets);
        o.indices = std::move(in.indices);
        file.objects.push_back(std::move(o));
    }
    return file;
}

}  // namespace

bool reads_mesh_name(const fs::path& path) { return io::format_named(path) || importer::handles(path); }

namespace {
// Extensions Assimp reads that other files of an asset folder commonly carry too (settings, raw images,
// project and scene files), and formats of animation only: a folder search passes over them.
constexpr std::string_view kNotSearched[] = {".xml", ".raw", ".prj", ".scn", ".mot",     ".3d",       ".uc",
                                             ".ter", ".bvh", ".csm", ".lws", ".md5anim", ".md5camera"};
}  // namespace

bool searched_in_folders(const fs::path& path) {
    if (io::format_named(path)) return true;
    const std::string ext = ascii_lowered(path.extension().string());
    return std::find(std::begin(kNotSearched), std::end(kNotSearched), ext) == std::end(kNotSearched) &&
           importer::handles(path);
}

std::string not_searched_text() {
    std::string out;
    for (const std::string_view ext : kNotSearched) out += (out.empty() ? "" : " ") + std::string(ext);
    return out;
}

LoadedFile load_mesh_file(const fs::path& path, const std::string& name, const importer::Limits& limits) {
    // Told as such whatever its name, as for every file torvel reads.
    if (std::error_code ec; fs::is_directory(path, ec)) throw FileError(path.string() + ": is a folder");
    if (io::format_named(path)) return read_own(path, name);
    if (importer::handles(path)) return read_imported(path, name, limits);
    const std::string ext = path.extension().string();
    throw FileError(path.string() + ": " +
                    (ext.empty() ? std::string("no file extension, cannot tell the mesh format")
                                 : "unknown mesh format \"" + ext + "\"") +
                    " (the formats torvel reads are listed by 'torvel check --help')");
}

io::MeshData joined_mesh(LoadedFile&& file) {
    io::MeshData out;
    if (file.objects.size() == 1 && !file.named) {
        LoadedObject& o = file.objects.front();
        out.positions = std::move(o.positions);
        out.offsets = std::move(o.offsets);
        out.indices = std::move(o.indices);
        file.objects.clear();
        return out;
    }
    for (LoadedObject& o : file.objects) {
        const auto base = static_cast<std::uint32_t>(out.vertex_count());
        const auto at = out.indices.size();
        if (file.named) out.objects.push_back({o.name, static_cast<std::uint32_t>(out.polygon_count())});
        out.positions.insert(out.positions.end(), o.positions.begin(), o.positions.end());
        for (std::size_t p = 1; p < o.offsets.size(); ++p)
            out.offsets.push_back(static_cast<std::uint32_t>(at + o.offsets[p]));
        for (const std::uint32_t v : o.indices) out.indices.push_back(base + v);
        o = {};
    }
    file.objects.clear();
    return out;
}

std::string formats_text() {
    std::string out = "  .obj .ply .off  torvel's own readers (double precision: coordinates correctly rounded)\n";
    for (const importer::Format& f : importer::formats()) {
        std::string line = " ";
        for (const std::string& ext : f.extensions) line += " ." + ext;
        out += line + "  " + f.description + " (Assimp, single precision)\n";
    }
    return out;
}

}  // namespace torvel::app
