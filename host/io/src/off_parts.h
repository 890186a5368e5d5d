// The OFF reader's parse of large vertex and face blocks in parts on several threads, for tests to force
// small parts.
#pragma once

#include "mesh_io.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace torvel::io::detail {

// parse_off with the vertex and face blocks read in parts of about `part_lines` (at least 1) lines on up
// to `threads` threads when they hold more lines than that, whatever the file's size. The result, and the
// error of a bad file, are parse_off's own. `in_parts`, when not null, tells whether the blocks were read
// in parts (false: the single pass read them).
PolygonMesh parse_off_in_parts(std::string_view text, const std::string& name, unsigned threads, std::size_t part_lines,
                               bool* in_parts = nullptr);

}  // namespace torvel::io::detail
