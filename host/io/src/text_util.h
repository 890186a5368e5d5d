// Helpers shared by the mesh readers: error messages that survive any bytes, and number parsing.
#pragma once

#include "huge_pages.h"
#include "mesh_io.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvel::io::detail {

// `s` made safe for a message: valid UTF-8 sequences are kept, other bytes and control characters are
// written as \xNN; longer than `max_bytes` is cut with "...".
std::string printable(std::string_view s, std::size_t max_bytes = 200);

[[noreturn]] void fail(const std::string& name, std::string_view what);
[[noreturn]] void fail_at_line(const std::string& name, std::size_t line, std::string_view what);

// "'token'" for messages, quoted and made printable.
std::string quoted(std::string_view token);

enum class NumStatus { ok, malformed, overflow, not_finite };

// Parses a decimal floating point number filling [first, last) exactly (an optional leading '+' is
// accepted). Correctly rounded; values too small for a double become (signed) zero, too large ones are
// reported as overflow, nan/inf as not_finite (`value` still set for those).
NumStatus parse_double(const char* first, const char* last, double& value);

// read_mesh, with `after_map` (when not null) called once the file is mapped, before it is parsed:
// tests change the file there.
MeshData read_mapped(const std::filesystem::path& path, void (*after_map)(const std::filesystem::path&));

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
