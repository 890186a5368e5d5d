// Replacing polygons of a mesh file by pieces of themselves, changing nothing else (`torvel fix`).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mesh_io.h"

namespace torvel::io {

// The pieces one polygon becomes (polygon_mesh.h).
using PolygonPieces = torvel::SplitPolygon;

// `bytes`, a whole file in `format`, with each listed polygon replaced in place by its pieces; every
// other byte is kept:
// - OBJ: the face's `f` statement (continuation lines included) becomes one `f` line per piece with the
//   corners' reference tokens as written (`v/vt/vn`, negative ones too: no `v` line moves, so they keep
//   their meaning), the statement's indentation and line ending, and its comment on the first line;
// - PLY (ASCII and binary): each piece is a copy of the face's record with its vertex index list cut
//   down to the piece (same count and index types, same byte order), and the face count in the header
//   is updated;
// - OFF: the same per face line (colour and comment kept on each piece), and the face count updated.
// `splits` must be in ascending polygon order, each polygon once, each piece of 3 or more corners of
// that polygon. When `expected` is given, the polygons the bytes hold must be its polygons (the file
// has not changed since it was read). Throws MeshError naming `name` when the bytes do not parse, or
// for splits that do not fit them.
std::string split_polygons_in_file(std::string_view bytes, Format format, const std::string& name,
                                   std::span<const PolygonPieces> splits, const PolygonMesh* expected = nullptr);

namespace detail {
struct FaceLayout;
}

// A mesh file (.obj, .ply, .off) kept whole to be rewritten: its bytes, the mesh read from exactly them
// and where the reader found each PLY or OFF face in them (an OBJ mesh's face lines say that).
struct MeshFile {
    MeshFile();
    MeshFile(MeshFile&&) noexcept;
    MeshFile& operator=(MeshFile&&) noexcept;
    ~MeshFile();

    std::unique_ptr<char[]> data;  // `size` bytes
    std::size_t size = 0;
    // What the reader made of the bytes; a caller may move its arrays on (torvel fix gives them to the scene).
    PolygonMesh mesh;
    std::unique_ptr<detail::FaceLayout> layout;  // null only in a moved-from file

    std::string_view bytes() const { return {data.get(), size}; }
};

// Reads `path` as read_mesh does: the same mesh, the same errors.
MeshFile read_mesh_file(const std::filesystem::path& path);

// A vertex at a new position (`torvel fix --flatten`).
struct MovedVertex {
    std::uint32_t vertex = 0;
    double x = 0, y = 0, z = 0;
};

// split_polygons_in_file for `file` as read_mesh_file read it, its bytes unchanged since: the
// output is handed to `write` in parts of about a megabyte as it is made, and the file is not parsed
// again. `mesh` and `face_lines` are file.mesh's polygons and face lines wherever they are now (file.mesh
// itself, or where the caller moved them); only the corner count of each polygon is read. `moves`
// (ascending vertex, each once), OBJ only: the x, y and z of each moved vertex's `v` statement are
// replaced by the shortest text that reads back to the new value, every other byte kept; the result is
// read back and must hold the new positions. Throws MeshError as split_polygons_in_file, for moves of a
// PLY or OFF file, and what `write` throws.
void write_split_polygons(const MeshFile& file, const MeshView& mesh, std::span<const std::uint32_t> face_lines,
                          Format format, const std::string& name, std::span<const PolygonPieces> splits,
                          const std::function<void(std::string_view)>& write, std::span<const MovedVertex> moves = {});

}  // namespace torvel::io
