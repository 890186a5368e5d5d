#include "text.h"

#include <gtest/gtest.h>

#include <string>

using namespace torvel;
using namespace std::string_literals;

TEST(Text, FoldsAsciiLettersOnly) {
    EXPECT_EQ(ascii_lowered("LoadPlugin .OBJ @[`{"s), "loadplugin .obj @[`{");
    EXPECT_EQ(ascii_lowered(L"TRUE \u00C4\u0130\u212A"s), L"true \u00C4\u0130\u212A");  // Ä, dotted I, Kelvin sign
    EXPECT_EQ(ascii_lowered("\xC3\x84"s), "\xC3\x84");                                  // UTF-8 bytes of Ä untouched

    EXPECT_TRUE(iequals("VBScript", "vbscript"));
    EXPECT_TRUE(iequals(L"True", L"tRUE"));
    EXPECT_TRUE(iequals(std::string_view(), std::string_view()));
    EXPECT_FALSE(iequals("True", "Truex"));
    EXPECT_FALSE(iequals(L"\u00C4", L"\u00E4"));  // Ä and ä are not ASCII
    EXPECT_FALSE(iequals(L"k", L"\u212A"));       // nor is the Kelvin sign a K
    EXPECT_FALSE(iequals("@", "`"));              // neighbours of the letter ranges do not fold
}

TEST(Text, Utf8RoundTrip) {
    const std::wstring text = L"a\u00E9\u20AC\U0001F600\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
    const std::string bytes = to_utf8(text);
    EXPECT_EQ(bytes,
              "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
              "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(from_utf8(bytes), text);
    EXPECT_EQ(from_utf8("nul\0inside"s), L"nul\0inside"s);
    EXPECT_EQ(to_utf8(L""), "");
}

TEST(Text, Utf8InvalidInputBecomesReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::wstring text;
    };
    const Case cases[] = {
        {"a\x80z", L"a\uFFFDz"},                            // stray continuation byte
        {"\xC0\x80", L"\uFFFD\uFFFD"},                      // overlong NUL: each byte replaced
        {"\xE0\x9F\xBF", L"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},            // a surrogate
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xF5\x80", L"\uFFFD\uFFFD"},                      // lead byte that never starts a sequence
        {"\xE2\x82", L"\uFFFD\uFFFD"},                      // cut short by the end
        {"\xE2(\xAC", L"\uFFFD(\uFFFD"},                    // interrupted: decoding resumes at '('
        {"\xFF\xC3\xA9", L"\uFFFD\u00E9"},                  // a valid sequence after a bad byte is kept
    };
    for (const Case& c : cases) EXPECT_EQ(from_utf8(c.bytes), c.text) << to_utf8(c.text);

    // Characters that are not code points are written as U+FFFD.
    const std::wstring bad{static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'x'};
    EXPECT_EQ(to_utf8(bad), "\xEF\xBF\xBD\xEF\xBF\xBDx");
}

TEST(Text, Utf8SequenceAt) {
    const std::string s = "A\xE2\x82\xAC\x80";
    EXPECT_EQ(utf8_sequence_at(s, 0).length, 1u);
    EXPECT_EQ(utf8_sequence_at(s, 1).length, 3u);
    EXPECT_EQ(utf8_sequence_at(s, 1).code_point, U'\u20AC');
    EXPECT_EQ(utf8_sequence_at(s, 2).length, 0u);
    EXPECT_EQ(utf8_sequence_at(s, 4).length, 0u);
}

TEST(Text, ByteOrderMarks) {
    EXPECT_EQ(utf8_file_text("\xEF\xBB\xBFv 1 2 3").text, "v 1 2 3");
    EXPECT_EQ(utf8_file_text("v 1\xEF\xBB\xBF").text, "v 1\xEF\xBB\xBF");  // only a leading mark is one
    EXPECT_EQ(utf8_file_text("\xEF\xBB").text, "\xEF\xBB");                // nor is part of one
    EXPECT_EQ(utf8_file_text("").problem, "");
    const std::pair<std::string, std::string> others[] = {
        {"\xFF\xFEv\0"s, "UTF-16 (little-endian)"},
        {"\xFE\xFF\0v"s, "UTF-16 (big-endian)"},
        {"\xFF\xFE\0\0v\0\0\0"s, "UTF-32 (little-endian)"},  // not UTF-16 with a NUL first
        {"\0\0\xFE\xFF\0\0\0v"s, "UTF-32 (big-endian)"},
    };
    for (const auto& [bytes, encoding] : others) {
        const Utf8File file = utf8_file_text(bytes);
        EXPECT_EQ(file.problem, "the file is " + encoding + "; save it as UTF-8 or ASCII");
        EXPECT_TRUE(file.text.empty()) << encoding;
    }
}
