// The one polygon-mesh type of torvel: what every reader fills (torvel's own OBJ/PLY/OFF readers and the
// Assimp importer's child), what the host's scene takes by move, and what geometry, render and report
// read through a non-owning view.
//
// Polygon p uses the corners indices[offsets[p] .. offsets[p+1]), each naming a vertex whose x, y, z are
// positions[3v .. 3v+2]. Polygons are kept as the file holds them: never triangulated, in file order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace torvel {

// A mesh as plain arrays, owned by the caller, valid while the arrays it was made from live unchanged.
struct MeshView {
    std::span<const double> positions;       // x, y, z per vertex
    std::span<const std::uint32_t> offsets;  // polygon count + 1 entries, the first 0 (empty: no polygon)
    std::span<const std::uint32_t> indices;  // zero-based vertex of each corner

    std::size_t vertex_count() const { return positions.size() / 3; }
    std::size_t polygon_count() const { return offsets.empty() ? 0 : offsets.size() - 1; }
};

struct PolygonMesh {
    std::vector<double> positions;          // x, y, z per vertex
    std::vector<std::uint32_t> offsets{0};  // polygon count + 1 entries, offsets.front() == 0
    std::vector<std::uint32_t> indices;     // zero-based vertex indices

    // The objects of the file, in file order, each owning the polygons from `first` up to the next one's.
    // Empty: the whole mesh is one object that the file does not name (an OBJ without `o`, a PLY, an OFF).
    // Polygons before an OBJ's first `o` form an object with an empty name. Every object but a lone one has
    // polygons.
    struct Object {
        std::string name;  // as the file gives it (trimmed); may be empty
        std::uint32_t first = 0;
        // Where the object's own vertices start when each object has vertices of its own (an import's
        // objects): they run up to the next object's first_vertex, the last object's to the end, and its
        // indices name only those. 0 in every object of a mesh whose objects share its vertices (an OBJ's).
        std::uint32_t first_vertex = 0;
    };
    std::vector<Object> objects;
    // The objects' names as the file has them, one per object, where the names in `objects` were made
    // from them (an import's, completed and numbered apart; split_objects' meshes); an empty name where
    // the file gives none. Empty: the names in `objects` are the file's (torvel's own readers).
    std::vector<std::string> source_names;

    // What a lossless writer and the messages need: OBJ: the line of each polygon's `f` statement (its
    // first line, 1-based); empty for the other formats.
    std::vector<std::uint32_t> face_lines;
    // What the reader passed over without failing, for the log: "PATH:LINE: what was passed over", in
    // file order.
    std::vector<std::string> warnings;

    std::size_t vertex_count() const { return positions.size() / 3; }
    std::size_t polygon_count() const { return offsets.size() - 1; }
    MeshView view() const { return {positions, offsets, indices}; }
    // Object k's name as the file has it (k < objects.size()).
    const std::string& source_name(std::size_t k) const {
        return source_names.empty() ? objects[k].name : source_names[k];
    }
    // Polygons [first, last) of object k (k < objects.size()).
    std::uint32_t object_end(std::size_t k) const {
        return k + 1 < objects.size() ? objects[k + 1].first : static_cast<std::uint32_t>(polygon_count());
    }
};

// The pieces one polygon is split into: piece k uses corners[offsets[k] .. offsets[k+1]), corner numbers of
// the polygon (0 is its first corner as the file lists it), in the order the piece goes round.
struct SplitPolygon {
    std::uint32_t polygon = 0;
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> corners;
    bool fewest = true;  // the piece count is proven the fewest
    // Not fewest because a piece the filter still reported was split into triangles (and the search
    // itself proved its count); otherwise, when not fewest, the search reached its budget.
    bool triangulated = false;
    std::size_t piece_count() const { return offsets.size() - 1; }
};

}  // namespace torvel
