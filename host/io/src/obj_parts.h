// The OBJ reader's parse of one text in parts on several threads, for tests to force small parts.
#pragma once

#include "mesh_io.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>
#include <string>
#include <string_view>

namespace torvel::io::detail {

// parse_obj with the text cut into parts of about `part_bytes` (at least 1) each, parsed on up to
// `threads` threads, whatever the text's size; one thread or one part is the parse in one go.
// `in_parts`, when not null, tells whether the result is the parts' own (false: the parse in one go made
// it, as for one part, or for parts whose counts did not match their parse).
PolygonMesh parse_obj_in_parts(std::string_view text, const std::string& name, unsigned threads, std::size_t part_bytes,
                               bool* in_parts = nullptr);

// Where the x, y and z of each listed vertex (zero-based in the order of the `v` statements, ascending)
// are written in `text`: begin and end offsets of each from the text's start. Throws MeshError naming
// `name` when a listed vertex is missing or has no three values.
std::vector<std::array<std::uint64_t, 6>> obj_vertex_coordinates(std::string_view text,
                                                                 std::span<const std::uint32_t> vertices,
                                                                 const std::string& name);

}  // namespace torvel::io::detail
