// Mesh files as the program reads them, chosen by extension (any case): .obj, .ply and .off through
// torvel's own readers (host/io, correctly rounded doubles), every format of the installed Assimp through
// torvel_importer (a child process; Assimp reads in single precision). Used by check and ImportMesh.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "importer.h"
#include "mesh_io.h"

namespace torvel::app {

// One object of a file: its own vertices, its polygons in file order (MeshData's layout).
struct LoadedObject {
    std::string name;         // from the file (OBJ `o`, the Assimp node), else the caller's; no '.', never empty
    std::string source_name;  // the name as the file has it (before '.' became '_'); empty when it has none
    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> indices;

    std::size_t polygon_count() const { return offsets.size() - 1; }
    std::size_t vertex_count() const { return positions.size() / 3; }
};

struct LoadedFile {
    // In file order. A file of torvel's own formats has at least one (a file without `o` is one object,
    // with every vertex of the file); an imported file with no polygon has none.
    std::vector<LoadedObject> objects;
    const char* precision = "double";       // "double" (own readers) or "single" (Assimp)
    std::vector<std::string> warnings;      // for the log, in file order: the reader's, the importer's
    bool named = false;                     // the objects' names came from the file: kept by -o
    std::vector<std::uint32_t> face_lines;  // OBJ: the `f` line of each polygon, objects in order; else empty
};

// Reads `path`. `name` names an object the file does not name (the file's stem for check, ImportMesh's
// NAME). Throws FileError with the message of the reader or the importer, which names the file.
LoadedFile load_mesh_file(const std::filesystem::path& path, const std::string& name, const importer::Limits& limits);

// The objects one after another as one mesh (vertices and polygons in object order), with
// MeshData::objects set when the file named them: what -o writes. Empties `file`.
io::MeshData joined_mesh(LoadedFile&& file);

// Whether the name's extension is one torvel reads.
bool reads_mesh_name(const std::filesystem::path& path);
// Whether a folder search takes a file of this name: every format torvel reads, except extensions that
// other files commonly carry too and formats of animation only (listed by not_searched_text, "a b c").
bool searched_in_folders(const std::filesystem::path& path);
std::string not_searched_text();

// The formats torvel reads, one line each: "  .dae .xml .zae  Collada Importer (Assimp, single)".
std::string formats_text();

}  // namespace torvel::app
