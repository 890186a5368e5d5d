// Mesh files as torvel reads them, the reader chosen in one place by the file name's extension (any
// case): .obj, .ply and .off through torvel's own readers (host/io, correctly rounded doubles), every
// format of the installed Assimp through torvel_importer (a child process; Assimp reads in single
// precision). Used by check (and its report), fix and the script command ImportMesh.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "importer.h"
#include "mesh_io.h"
#include "mesh_rewrite.h"
#include "polygon_mesh.h"

namespace torvel {

// What load_mesh_file keeps besides the mesh.
enum class Keep {
    mesh,   // the mesh alone
    bytes,  // also, for torvel's own formats, the file's bytes and where its faces are (torvel fix's rewrite)
};

struct LoadedFile {
    // The whole file, polygons in file order; its warnings for the log, in file order. Own formats: as
    // the reader made it (an OBJ's objects share the file's vertices and keep its names; no objects when
    // the file names none). Assimp's: its meshes one after another, each an object with vertices of its
    // own, named as the scene names it (no '.', no control character); no objects when it has no polygon.
    // mesh.source_name(k) is object k's name as the file has it.
    PolygonMesh mesh;
    const char* precision = "double";  // "double" (own readers) or "single" (Assimp)
    bool named = false;                // the objects' names came from the file: kept by -o
    std::optional<io::Format> format;  // the own format it was read as; empty for a file read by Assimp
    // Keep::bytes and an own format: the bytes `mesh` was read from and where its faces are, for
    // io::write_split_polygons (its own `mesh` is moved to the one above); otherwise no bytes.
    io::MeshFile source;
};

// Reads `path`. Throws FileError with the message of the reader or the importer, which names the file.
LoadedFile load_mesh_file(const std::filesystem::path& path, const importer::Limits& limits, Keep keep = Keep::mesh);

// The file's objects as meshes of their own, in file order, as the scene takes them (check, its report,
// ImportMesh): each with its one object named (no '.', no control character; `fallback` for an object
// the file does not name) and keeping the file's name as its source name (source_names), the vertices it uses and no
// others. A file without objects is one object with every vertex of the file (its arrays moved, not copied), except a
// file read by Assimp, which then has no object. The objects of an OBJ get the vertices their polygons use, in the
// file's order; those of an import keep their own vertices, used or not. The arrays and objects of file.mesh are moved
// out or freed; its face lines and warnings and the rest of `file` stay.
std::vector<PolygonMesh> split_objects(LoadedFile& file, const std::string& fallback);

// Meshes one after another as one (vertices and polygons in that order), each one's object kept when
// `named`: what -o writes of split_objects' meshes.
PolygonMesh joined_mesh(std::span<const PolygonMesh> objects, bool named);

// Whether the name's extension is one torvel reads.
bool reads_mesh_name(const std::filesystem::path& path);
// Whether a folder search takes a file of this name: every format torvel reads, except extensions that
// other files commonly carry too and formats of animation only (listed by not_searched_text, "a b c").
bool searched_in_folders(const std::filesystem::path& path);
std::string not_searched_text();

// The formats torvel reads, one line each: "  .dae .xml .zae  Collada Importer (Assimp, single)".
std::string formats_text();

}  // namespace torvel
