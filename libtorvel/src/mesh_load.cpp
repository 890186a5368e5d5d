// Mesh files by extension: torvel's own readers or Assimp in a child process, into one mesh.
#include "mesh_load.h"

#include <algorithm>

#include "errors.h"
#include "text.h"

namespace torvel {

namespace fs = std::filesystem;

namespace {

// The one choice of a reader by a file name's extension.
struct Reader {
    std::optional<io::Format> own;  // .obj, .ply, .off: torvel's own reader
    bool assimp = false;            // otherwise: an importer of the installed Assimp claims it
};

Reader reader_for(const fs::path& path) {
    Reader r;
    r.own = io::format_named(path);
    r.assimp = !r.own && importer::handles(path);
    return r;
}

// Names become parts of full names ("Scene_Root.NAME"), where '.' separates; control characters would
// break the lines of the log and of -o's OBJ.
std::string object_name(std::string name, const std::string& fallback) {
    if (name.empty()) name = fallback;
    for (char& c : name)
        if (c == '.' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    return name.empty() ? "mesh" : name;
}

// The polygons of `mesh`'s object `object` as a mesh of their own whose one object is named after it
// (the file's name kept as its source name), with the vertices `used` (ascending) and each corner's
// vertex given by `renumber`.
template <class Renumber>
PolygonMesh object_mesh(const PolygonMesh& mesh, std::size_t object, const std::string& fallback,
                        std::span<const std::uint32_t> used, Renumber renumber) {
    const std::uint32_t first = mesh.objects[object].first, last = mesh.object_end(object);
    PolygonMesh o;
    o.objects.push_back({object_name(mesh.objects[object].name, fallback), 0, 0});
    o.source_names.push_back(mesh.source_name(object));
    o.positions.reserve(3 * used.size());
    for (const std::uint32_t v : used)
        o.positions.insert(o.positions.end(), mesh.positions.begin() + 3 * std::ptrdiff_t(v),
                           mesh.positions.begin() + 3 * std::ptrdiff_t(v) + 3);
    o.offsets.reserve(last - first + 1);
    for (std::uint32_t p = first; p < last; ++p) o.offsets.push_back(mesh.offsets[p + 1] - mesh.offsets[first]);
    o.indices.reserve(mesh.offsets[last] - mesh.offsets[first]);
    for (std::uint32_t k = mesh.offsets[first]; k < mesh.offsets[last]; ++k)
        o.indices.push_back(renumber(mesh.indices[k]));
    return o;
}

// Objects sharing the mesh's vertices (an OBJ's), each given those its polygons use, in the file's
// vertex order. The vertices are gathered per object through one array stamped with the object's
// number, so the cost is that of the indices, not of the vertices times the objects.
std::vector<PolygonMesh> gathered_objects(const PolygonMesh& mesh, const std::string& fallback) {
    std::vector<PolygonMesh> out;
    constexpr std::uint32_t kNone = 0xffffffffu;
    std::vector<std::uint32_t> stamp(mesh.vertex_count(), kNone), renumbered(mesh.vertex_count()), used;
    for (std::size_t j = 0; j < mesh.objects.size(); ++j) {
        const std::uint32_t first = mesh.objects[j].first, last = mesh.object_end(j);
        used.clear();
        for (std::uint32_t k = mesh.offsets[first]; k < mesh.offsets[last]; ++k)
            if (const std::uint32_t v = mesh.indices[k]; stamp[v] != j) {
                stamp[v] = static_cast<std::uint32_t>(j);
                used.push_back(v);
            }
        std::sort(used.begin(), used.end());
        for (std::size_t i = 0; i < used.size(); ++i) renumbered[used[i]] = static_cast<std::uint32_t>(i);
        out.push_back(object_mesh(mesh, j, fallback, used, [&](std::uint32_t v) { return renumbered[v]; }));
    }
    return out;
}

// Objects with vertex ranges of their own (an import's): each keeps its range, used or not.
std::vector<PolygonMesh> ranged_objects(const PolygonMesh& mesh, const std::string& fallback) {
    std::vector<PolygonMesh> out;
    const auto vertices = static_cast<std::uint32_t>(mesh.vertex_count());
    std::vector<std::uint32_t> used;
    for (std::size_t j = 0; j < mesh.objects.size(); ++j) {
        const std::uint32_t begin = std::min(mesh.objects[j].first_vertex, vertices);
        const std::uint32_t end =
            j + 1 < mesh.objects.size() ? std::clamp(mesh.objects[j + 1].first_vertex, begin, vertices) : vertices;
        used.resize(end - begin);
        for (std::uint32_t v = begin; v < end; ++v) used[v - begin] = v;
        // An index outside the range is put past the object's vertices, where the scene refuses it.
        out.push_back(object_mesh(mesh, j, fallback, used,
                                  [&](std::uint32_t v) { return v >= begin && v < end ? v - begin : end - begin; }));
    }
    return out;
}

// Errors of the readers and the importer become the program's; their messages already name the file.
LoadedFile read_own(const fs::path& path, io::Format format, Keep keep) {
    LoadedFile file;
    file.format = format;
    try {
        if (keep == Keep::bytes) {
            file.source = io::read_mesh_file(path);
            file.mesh = std::move(file.source.mesh);
        } else {
            file.mesh = io::read_mesh(path);
        }
    } catch (const io::MeshError& e) {
        throw FileError(e);
    }
    file.named = !file.mesh.objects.empty();
    return file;
}

LoadedFile read_imported(const fs::path& path, const importer::Limits& limits) {
    LoadedFile file;
    try {
        file.mesh = std::move(importer::import_file(path, limits).mesh);
    } catch (const importer::ImportError& e) {
        throw FileError(e);
    }
    file.precision = "single";
    file.named = true;
    for (PolygonMesh::Object& o : file.mesh.objects) o.name = object_name(std::move(o.name), {});
    return file;
}

}  // namespace

LoadedFile load_mesh_file(const fs::path& path, const importer::Limits& limits, Keep keep) {
    // Told as such whatever its name, as for every file torvel reads.
    if (std::error_code ec; fs::is_directory(path, ec))
        throw FileError(path.string() + ": is a folder", {}, ErrorCode::is_folder);
    const Reader reader = reader_for(path);
    if (reader.own) return read_own(path, *reader.own, keep);
    if (reader.assimp) return read_imported(path, limits);
    const std::string ext = path.extension().string();
    throw FileError(path.string() + ": " +
                    (ext.empty() ? std::string("no file extension, cannot tell the mesh format")
                                 : "unknown mesh format \"" + ext + "\"") +
                        " (the formats torvel reads are listed by 'torvel check --help')",
                    {}, ErrorCode::unknown_format);
}

std::vector<PolygonMesh> split_objects(LoadedFile& file, const std::string& fallback) {
    PolygonMesh& mesh = file.mesh;
    std::vector<PolygonMesh> out;
    if (mesh.objects.size() > 1) {
        const bool ranged = std::any_of(mesh.objects.begin(), mesh.objects.end(),
                                        [](const PolygonMesh::Object& o) { return o.first_vertex != 0; });
        out = ranged ? ranged_objects(mesh, fallback) : gathered_objects(mesh, fallback);
        mesh.positions = {};
        mesh.offsets = {0};
        mesh.indices = {};
        mesh.objects.clear();
        mesh.source_names.clear();
        return out;
    }
    if (mesh.objects.empty() && file.named) return out;  // an import without polygons
    // One object keeps the file's arrays as they are (every vertex, used or not).
    PolygonMesh& o = out.emplace_back();
    o.source_names.push_back(mesh.objects.empty() ? std::string() : mesh.source_name(0));
    o.objects.push_back(
        {object_name(mesh.objects.empty() ? std::string() : std::move(mesh.objects.front().name), fallback), 0, 0});
    o.positions = std::move(mesh.positions);
    o.offsets = std::move(mesh.offsets);
    o.indices = std::move(mesh.indices);
    mesh.offsets = {0};
    mesh.objects.clear();
    mesh.source_names.clear();
    return out;
}

PolygonMesh joined_mesh(std::span<const PolygonMesh> objects, bool named) {
    PolygonMesh out;
    std::size_t vertices = 0, polygons = 0, corners = 0;
    for (const PolygonMesh& o : objects) {
        vertices += o.vertex_count();
        polygons += o.polygon_count();
        corners += o.indices.size();
    }
    out.positions.reserve(3 * vertices);
    out.offsets.reserve(polygons + 1);
    out.indices.reserve(corners);
    for (const PolygonMesh& o : objects) {
        const auto base = static_cast<std::uint32_t>(out.vertex_count());
        const auto at = static_cast<std::uint32_t>(out.indices.size());
        if (named)
            out.objects.push_back({o.objects.empty() ? std::string() : o.objects.front().name,
                                   static_cast<std::uint32_t>(out.polygon_count()), base});
        out.positions.insert(out.positions.end(), o.positions.begin(), o.positions.end());
        for (std::size_t p = 1; p < o.offsets.size(); ++p) out.offsets.push_back(at + o.offsets[p]);
        for (const std::uint32_t v : o.indices) out.indices.push_back(base + v);
    }
    return out;
}

bool reads_mesh_name(const fs::path& path) {
    const Reader reader = reader_for(path);
    return reader.own || reader.assimp;
}

namespace {
// Extensions Assimp reads that other files of an asset folder commonly carry too (settings, raw images,
// project and scene files), and formats of animation only: a folder search passes over them.
constexpr std::string_view kNotSearched[] = {".xml", ".raw", ".prj", ".scn", ".mot",     ".3d",       ".uc",
                                             ".ter", ".bvh", ".csm", ".lws", ".md5anim", ".md5camera"};
}  // namespace

bool searched_in_folders(const fs::path& path) {
    const Reader reader = reader_for(path);
    if (reader.own) return true;
    const std::string ext = ascii_lowered(path.extension().string());
    return reader.assimp && std::find(std::begin(kNotSearched), std::end(kNotSearched), ext) == std::end(kNotSearched);
}

std::string not_searched_text() {
    std::string out;
    for (const std::string_view ext : kNotSearched) out += (out.empty() ? "" : " ") + std::string(ext);
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

}  // namespace torvel
