// Text helpers shared by the host core, the SDK, the readers and the program.
#pragma once

#include <string>
#include <string_view>

namespace torvel {

// ASCII case folding: names in scripts, plug-in items and file extensions compare without regard to
// ASCII case only, never by the locale.
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr wchar_t ascii_lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
std::string ascii_lowered(std::string_view text);
std::wstring ascii_lowered(std::wstring_view text);
bool iequals(std::string_view a, std::string_view b);
bool iequals(std::wstring_view a, std::wstring_view b);

// UTF-8 from wide text; a value that is no Unicode scalar becomes U+FFFD.
std::string to_utf8(std::wstring_view text);
// Wide text from UTF-8; invalid bytes become U+FFFD.
std::wstring from_utf8(std::string_view text);

}  // namespace torvel
