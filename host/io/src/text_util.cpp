#include "text_util.h"

#include "text.h"

#include <cmath>
#include <cstdint>

namespace torvel::io::detail {

std::string printable(std::string_view s, std::size_t max_bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size() < max_bytes ? s.size() : max_bytes);
    std::size_t i = 0;
    while (i < s.size()) {
        if (out.size() >= max_bytes) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (std::size_t n = c >= 0x80 ? utf8_sequence_at(s, i).length : 0; n != 0) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        }
    }
    return out;
}

void fail(const std::string& name, std::string_view what, ErrorCode code) {
    std::string msg = printable(name, 4096);
    msg += ": ";
    msg += what;
    throw MeshError(msg, {}, code);
}

std::string at_line(const std::string& name, std::size_t line, std::string_view what) {
    std::string msg = printable(name, 4096);
    msg += ':';
    msg += std::to_string(line);
    msg += ": ";
    msg += what;
    return msg;
}

void fail_at_line(const std::string& name, std::size_t line, std::string_view what) {
    throw MeshError(at_line(name, line, what));
}

std::string_view without_utf8_mark(std::string_view bytes, const std::string& name) {
    const Utf8File file = utf8_file_text(bytes);
    if (!file.problem.empty()) fail(name, file.problem, ErrorCode::encoding);
    return file.text;
}

std::string quoted(std::string_view token) { return "'" + printable(token, 60) + "'"; }

NumStatus parse_count(std::string_view token, std::uint64_t& value) {
    const char* last = token.data() + token.size();
    const auto r = std::from_chars(token.data(), last, value);
    if (r.ec == std::errc::result_out_of_range) return NumStatus::overflow;  // even with more after the digits
    return r.ec == std::errc() && r.ptr == last ? NumStatus::ok : NumStatus::malformed;
}

std::string real_error(NumStatus status, std::string_view what, std::string_view token) {
    switch (status) {
        case NumStatus::not_finite: return std::string(what) + " " + quoted(token) + " is not finite";
        case NumStatus::overflow: return std::string(what) + " " + quoted(token) + " is out of the range of a double";
        case NumStatus::ok:
        case NumStatus::malformed: break;
    }
    return "bad " + std::string(what) + " " + quoted(token);
}

std::string count_error(NumStatus status, std::string_view what, std::string_view token) {
    if (status == NumStatus::overflow) return std::string(what) + " " + quoted(token) + " overflows";
    return "bad " + std::string(what) + " " + quoted(token);
}

std::string too_few_vertices(std::uint64_t vertices) {
    return "face has " + std::to_string(vertices) + " vertices, at least 3 are needed";
}

std::string index_out_of_range(std::int64_t index, std::uint64_t vertex_count) {
    return "vertex index " + std::to_string(index) + " out of range (the file has " + std::to_string(vertex_count) +
           " vertices)";
}

NumStatus parse_double(const char* first, const char* last, double& value) {
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-') return NumStatus::malformed;
    }
    if (first == last) return NumStatus::malformed;
    auto r = std::from_chars(first, last, value, std::chars_format::general);
    if (r.ptr != last) return NumStatus::malformed;
    if (r.ec == std::errc()) return std::isfinite(value) ? NumStatus::ok : NumStatus::not_finite;
    if (r.ec != std::errc::result_out_of_range) return NumStatus::malformed;

    // Out of range: decide between overflow and underflow from the decimal order of magnitude.
    const char* p = first;
    const bool negative = *p == '-';
    if (negative) ++p;
    long long order = 0;  // position of the first nonzero digit relative to the decimal point
    bool seen_nonzero = false, after_point = false;
    long long int_digits = 0, leading_frac_zeros = 0;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            after_point = true;
            continue;
        }
        if (!seen_nonzero && *p != '0') seen_nonzero = true;
        if (!after_point) {
            if (seen_nonzero) ++int_digits;
        } else if (!seen_nonzero)
            ++leading_frac_zeros;
    }
    order = int_digits > 0 ? int_digits : -leading_frac_zeros;
    long long exp = 0;
    if (p != last) {
        ++p;
        bool eneg = false;
        if (p != last && (*p == '+' || *p == '-')) eneg = *p++ == '-';
        for (; p != last; ++p) {
            if (exp < 100000000) exp = exp * 10 + (*p - '0');
        }
        if (eneg) exp = -exp;
    }
    if (order + exp > 0) return NumStatus::overflow;
    value = negative ? -0.0 : 0.0;
    return NumStatus::ok;
}

}  // namespace torvel::io::detail
