#include "text.h"

#include <algorithm>
#include <cstdint>

namespace torvel {

std::string ascii_lowered(std::string text) {
    for (char& c : text) c = ascii_lower(c);
    return text;
}

std::wstring ascii_lowered(std::wstring text) {
    for (wchar_t& c : text) c = ascii_lower(c);
    return text;
}

bool iequals(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

bool iequals(std::wstring_view a, std::wstring_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](wchar_t x, wchar_t y) { return ascii_lower(x) == ascii_lower(y); });
}

Utf8Sequence utf8_sequence_at(std::string_view text, std::size_t at) noexcept {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    // Lead bytes C0, C1 and F5..FF can only start overlong forms or values past U+10FFFF.
    std::size_t n = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return {};
    }
    if (n > text.size() - at) return {};
    char32_t cp = lead & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) return {};
        cp = (cp << 6) | (byte(at + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
    return {cp, n};
}

std::string to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring from_utf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence seq = utf8_sequence_at(text, i);
        if (seq.length == 0) {
            out += L'\uFFFD';
            ++i;
        } else {
            out += static_cast<wchar_t>(seq.code_point);
            i += seq.length;
        }
    }
    return out;
}

Utf8File utf8_file_text(std::string_view bytes) {
    using namespace std::string_view_literals;
    // UTF-32 first: its little-endian mark begins with the UTF-16 one.
    static constexpr struct {
        std::string_view mark;
        const char* encoding;
    } kOthers[] = {{"\xFF\xFE\0\0"sv, "UTF-32 (little-endian)"},
                   {"\0\0\xFE\xFF"sv, "UTF-32 (big-endian)"},
                   {"\xFF\xFE"sv, "UTF-16 (little-endian)"},
                   {"\xFE\xFF"sv, "UTF-16 (big-endian)"}};
    if (bytes.starts_with("\xEF\xBB\xBF"sv)) return {bytes.substr(3), {}};
    for (const auto& other : kOthers)
        if (bytes.starts_with(other.mark))
            return {{}, std::string("the file is ") + other.encoding + "; save it as UTF-8 or ASCII"};
    return {bytes, {}};
}

}  // namespace torvel
