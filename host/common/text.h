// Text helpers for the host core, the mesh readers, the program and the tests: ASCII case folding,
// UTF-8 conversion and byte-order marks. Nothing here reads the process's locale: command names, keywords
// and file extensions are ASCII, and they compare the same whatever locale the process runs in ("Ä" and
// "ä" stay distinct).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvel {

// 'A'..'Z' become 'a'..'z'; every other character, non-ASCII ones included, is returned unchanged.
constexpr char ascii_lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr wchar_t ascii_lower(wchar_t c) noexcept {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// `text` with ascii_lower applied to each character.
std::string ascii_lowered(std::string text);
std::wstring ascii_lowered(std::wstring text);

// True when a and b have the same length and are equal after ascii_lower on both.
bool iequals(std::string_view a, std::string_view b) noexcept;
bool iequals(std::wstring_view a, std::wstring_view b) noexcept;

// One UTF-8 sequence: the code point and how many bytes encode it.
struct Utf8Sequence {
    char32_t code_point = 0;
    std::size_t length = 0;  // 0: the bytes at that place are not a valid sequence
};

// The sequence starting at text[at] (at < text.size()). Length 0 for anything that is not shortest-form
// UTF-8 of a code point up to U+10FFFF outside the surrogates: a stray continuation byte, an overlong
// form, a surrogate, a sequence cut short by the end of `text` or by a byte that does not continue it.
Utf8Sequence utf8_sequence_at(std::string_view text, std::size_t at) noexcept;

// UTF-8 of `text` (UTF-32 wchar_t); characters that are not code points (surrogates, past U+10FFFF)
// are written as U+FFFD.
std::string to_utf8(std::wstring_view text);
// `text` decoded; each byte that does not start a valid sequence (see utf8_sequence_at) becomes one
// U+FFFD and decoding resumes at the next byte. Never throws for any bytes.
std::wstring from_utf8(std::string_view text);

// A text file that must be UTF-8 (or ASCII), as editors save it: `text` is the file without the UTF-8
// byte-order mark it may start with. When it starts with the mark of UTF-16 or UTF-32 instead, `problem`
// says so ("the file is UTF-16 (little-endian); save it as UTF-8 or ASCII") and `text` is empty; the
// caller puts its file name in front. `problem` is empty otherwise.
struct Utf8File {
    std::string_view text;
    std::string problem;
};
Utf8File utf8_file_text(std::string_view bytes);

}  // namespace torvel
