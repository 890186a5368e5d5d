// Where a reader found each face in the bytes it parsed: what the lossless rewriter (mesh_rewrite.cpp)
// needs to replace a face in place. Filled only when a caller passes one; offsets count from the start
// of the bytes given to the parser (a byte-order mark included).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mesh_io.h"

namespace torvel::io::detail {

struct FaceLayout {
    // One face record: [begin, end) is the whole record, [list_begin, list_end) its vertex index list
    // (the count and the indices). Text formats: `end` is where the record's line ends (before its
    // '\n', so a CR and a comment are inside), PLY ASCII: after the record's last value.
    struct Record {
        std::uint64_t begin = 0, list_begin = 0, list_end = 0, end = 0;
    };
    std::vector<Record> records;
    std::uint64_t count_begin = 0, count_end = 0;  // the face count in the header
    bool binary = false;
    bool big_endian = false;
    std::uint8_t count_size = 0, index_size = 0;  // binary PLY: bytes of the list count and of an index
};

PolygonMesh parse_ply(std::string_view bytes, const std::string& name, FaceLayout* layout);
PolygonMesh parse_off(std::string_view bytes, const std::string& name, FaceLayout* layout);

}  // namespace torvel::io::detail
