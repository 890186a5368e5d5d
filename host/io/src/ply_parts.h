// The PLY reader's conversion of large binary elements in parts on several threads, for tests to force
// small parts.
#pragma once

#include "mesh_io.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace torvel::io::detail {

// parse_ply with every vertex and face element of more than `part_instances` (at least 1) instances
// converted in parts on up to `threads` threads, whatever the file's size: binary ones in parts of that
// many instances, ASCII ones in parts of about 8 * part_instances bytes. The
// result, and the error of a bad file, are parse_ply's own. `elements_in_parts`, when not null, is set
// to how many elements were converted in parts (the others went through the single pass).
PolygonMesh parse_ply_in_parts(std::string_view bytes, const std::string& name, unsigned threads,
                               std::size_t part_instances, std::size_t* elements_in_parts = nullptr);

}  // namespace torvel::io::detail
