// Helpers shared by the mesh readers: error messages that survive any bytes, and number parsing.
#pragma once

#include "huge_pages.h"
#include "mesh_io.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace torvel::io::detail {

// The most vertices, polygons or face vertices a mesh holds: its offsets and indices are 32-bit.
inline constexpr std::uint64_t max_u32 = std::numeric_limits<std::uint32_t>::max();

// Blanks inside a line: space, tab, the CR of a CRLF file, vertical tab, form feed.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// `s` made safe for a message: valid UTF-8 sequences are kept, other bytes and control characters are
// written as \xNN; longer than `max_bytes` is cut with "...".
std::string printable(std::string_view s, std::size_t max_bytes = 200);

// "name:line: what", with the name made printable: the form of every error and warning about a line.
std::string at_line(const std::string& name, std::size_t line, std::string_view what);
[[noreturn]] void fail(const std::string& name, std::string_view what, ErrorCode code = ErrorCode::parse);
[[noreturn]] void fail_at_line(const std::string& name, std::size_t line, std::string_view what);

// `bytes` past a UTF-8 byte-order mark; a file marked as UTF-16 or UTF-32 fails, naming `name`.
std::string_view without_utf8_mark(std::string_view bytes, const std::string& name);

// "'token'" for messages, quoted and made printable.
std::string quoted(std::string_view token);

enum class NumStatus { ok, malformed, overflow, not_finite };

// Parses a decimal floating point number filling [first, last) exactly (an optional leading '+' is
// accepted). Correctly rounded; values too small for a double become (signed) zero, too large ones are
// reported as overflow, nan/inf as not_finite (`value` still set for those).
NumStatus parse_double(const char* first, const char* last, double& value);

// parse_double over a whole token, where NaN and infinities count as ok unless `must_be_finite`: values
// that are read only to be dropped may be anything a double holds.
inline NumStatus parse_real(std::string_view token, bool must_be_finite, double& value) {
    const NumStatus status = parse_double(token.data(), token.data() + token.size(), value);
    return status == NumStatus::not_finite && !must_be_finite ? NumStatus::ok : status;
}

// A whole token as a count: decimal digits only, no sign. overflow when it does not fit 64 bits.
NumStatus parse_count(std::string_view token, std::uint64_t& value);

// What is wrong with a token that did not parse (`status` is not ok), for a message; `what` names the
// value. Reals: "bad x coordinate 'a'", "x coordinate 'nan' is not finite", "x coordinate '1e999' is out
// of the range of a double". Counts: "bad face count '-3'", "face count '99999999999999999999' overflows".
std::string real_error(NumStatus status, std::string_view what, std::string_view token);
std::string count_error(NumStatus status, std::string_view what, std::string_view token);

// The same faults in every reader, told the same way.
// "face has 2 vertices, at least 3 are needed"
std::string too_few_vertices(std::uint64_t vertices);
// "vertex index 4 out of range (the file has 3 vertices)"
std::string index_out_of_range(std::int64_t index, std::uint64_t vertex_count);
inline constexpr std::string_view too_many_face_vertices = "too many face vertices in total (more than 2^32 - 1)";

// Ends the polygon whose indices were appended last. False, with the mesh unchanged, when the index
// list has outgrown 32-bit offsets: the caller reports too_many_face_vertices.
[[nodiscard]] inline bool close_polygon(PolygonMesh& mesh) {
    if (mesh.indices.size() > max_u32) return false;
    mesh.offsets.push_back(static_cast<std::uint32_t>(mesh.indices.size()));
    return true;
}

// read_mesh, with `after_map` (when not null) called once the file is mapped, before it is parsed:
// tests change the file there.
PolygonMesh read_mapped(const std::filesystem::path& path, void (*after_map)(const std::filesystem::path&));

using torvel::advise_huge_pages;
using torvel::reserve_huge;

// A whole token as a signed decimal integer. false when malformed or outside int64.
inline bool parse_int(const char* first, const char* last, std::int64_t& value) {
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    auto r = std::from_chars(first, last, value);
    return r.ec == std::errc() && r.ptr == last;
}

}  // namespace torvel::io::detail
