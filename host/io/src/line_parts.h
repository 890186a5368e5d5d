// Text read in parts on several threads, shared by the readers whose records take one line each (ASCII
// PLY, OFF): the lines cut into parts by counting line ends in parts, and the faces each part parsed
// joined into the mesh in file order.
#pragma once

#include "mesh_io.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace torvel::io::detail {

// Below this many records an element or block is read on the calling thread: on two cores, parts made
// 65536 faces slower (9.0 against 1.6 ms) and 262144 faster (15.2 against 20.2 ms; bench/README.md).
inline constexpr std::uint64_t kParallelFromInstances = std::uint64_t{1} << 17;

// The bytes of one part of `rest` bytes of text on `threads` threads: about 8 * part_records when a
// test forces parts of that many records (not 0), else a quarter of each thread's share, at least 1 MiB.
std::size_t line_part_bytes(std::size_t rest, unsigned threads, std::size_t part_records);

// `count` lines cut into parts: part k is the text [begin(k), ends[k]) and holds the lines numbered
// first_line[k] up to first_line[k + 1] (counted from the first, 0). Every part but the last ends past
// a '\n'; the last ends past the count-th line's '\n', or at the end of the text when that line is the
// last and unended.
struct LineParts {
    std::size_t first = 0;
    std::vector<std::size_t> ends;
    std::vector<std::size_t> first_line{0};
    std::size_t parts() const { return ends.size(); }
    std::size_t begin(std::size_t k) const { return k ? ends[k - 1] : first; }
};

// The `count` lines from `first` (the start of a line) of `text`, in parts of about `part_bytes` (at
// least 1), their line ends counted on up to `threads` threads. std::nullopt when the text has fewer lines.
std::optional<LineParts> cut_lines(std::string_view text, std::size_t first, std::size_t count, std::size_t part_bytes,
                                   unsigned threads);

// The faces one part parsed: every face's indices, one after the other, and its number of corners.
struct PartFaces {
    std::vector<std::uint32_t> indices, sizes;
};

// Appends the parts' faces to `mesh` in part order, copying on up to `threads` threads. False, with the
// mesh unchanged, when the index list would outgrow 32-bit offsets.
[[nodiscard]] bool append_faces(PolygonMesh& mesh, const std::vector<PartFaces>& parts, unsigned threads);

}  // namespace torvel::io::detail
