// Mesh files in and out: OBJ, PLY (ascii, binary little/big endian) and OFF.
//
// Readers keep every polygon as it stands in the file (never triangulated), in file order, with
// coordinates as correctly rounded doubles. Anything malformed throws MeshError whose message names
// the file and, for line-based formats, the line: "PATH:LINE: what is wrong". What a reader passes over
// without failing is told in PolygonMesh::warnings, for the program to log. The mesh type is torvel's one
// (mesh/polygon_mesh.h): an OBJ's `o` statements give its objects, its `f` lines its face_lines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "output_file.h"
#include "polygon_mesh.h"

namespace torvel::io {

using torvel::MeshError;
using torvel::MeshView;
using torvel::PolygonMesh;
using torvel::RunFiles;

enum class Format { obj, ply, off };

// Format from the file name's extension (case-insensitive); throws MeshError naming the file otherwise.
Format format_of(const std::filesystem::path& path);
// The same without throwing: std::nullopt for an extension that is none of the formats (or none at all).
// Every format read is also written by write_marked.
std::optional<Format> format_named(const std::filesystem::path& path);

// Reads a whole file. Throws MeshError for a missing, unreadable or malformed file.
PolygonMesh read_mesh(const std::filesystem::path& path);

// A large file (an OBJ file of 16 MB or more, large PLY elements and OFF blocks) is read on
// torvel::work_threads() threads (work_threads.h), a smaller one on the calling thread; the result is the
// same whatever the number.

// Parsers over file contents already in memory; `name` is used in error messages.
PolygonMesh parse_obj(std::string_view text, const std::string& name);
PolygonMesh parse_ply(std::string_view bytes, const std::string& name);
PolygonMesh parse_off(std::string_view text, const std::string& name);

// Writes `mesh` to `out` (format from its extension) with the polygons listed in `marked` (ascending
// indices) made visible: PLY gets a per-face colour, OBJ puts them in their own group and material and
// writes the .mtl beside it. The `objects` (PolygonMesh::objects' layout; empty: none named) are kept: OBJ
// starts each with `o NAME`, PLY and OFF name each in a comment line, "comment object FIRST NAME" and
// "# object FIRST NAME" (FIRST its first face).
// Each file goes through torvel::OutputFile (replaced atomically, links followed, FIFOs and devices
// written through), as an output of `role` that never replaces another file of `files`
// (RunFiles::clash: compared as files, so a link to one counts). On any failure MeshError naming `out`
// (with the code OutputFile gave) is thrown and nothing is left behind.
void write_marked(const std::filesystem::path& out, const MeshView& mesh, std::span<const PolygonMesh::Object> objects,
                  std::span<const std::uint32_t> marked, const RunFiles& files, std::string_view role = role::output);
// The same for a whole mesh and its objects.
inline void write_marked(const std::filesystem::path& out, const PolygonMesh& mesh,
                         std::span<const std::uint32_t> marked, const RunFiles& files,
                         std::string_view role = role::output) {
    write_marked(out, mesh.view(), mesh.objects, marked, files, role);
}

// Registers the files write_marked(out, ...) writes as outputs of `role`: `out`, and for .obj its
// material file, each under the name write_marked's messages give it.
void add_marked_outputs(RunFiles& files, const std::filesystem::path& out, std::string_view role = role::output);
// The material file an OBJ output names: `out` with the extension .mtl.
std::filesystem::path material_file(const std::filesystem::path& out);

}  // namespace torvel::io
