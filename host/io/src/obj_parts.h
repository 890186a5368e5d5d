// The OBJ reader's parse of one text in parts on several threads, for tests to force small parts.
#pragma once

#include "mesh_io.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace torvel::io::detail {

// parse_obj with the text cut into parts of about `part_bytes` (at least 1) each, parsed on up to
// `threads` threads, whatever the text's size; one thread or one part is the parse in one go.
// `in_parts`, when not null, tells whether the result is the parts' own (false: the parse in one go made
// it, as for one part, or for parts whose counts did not match their parse).
PolygonMesh parse_obj_in_parts(std::string_view text, const std::string& name, unsigned threads, std::size_t part_bytes,
                               bool* in_parts = nullptr);

}  // namespace torvel::io::detail
