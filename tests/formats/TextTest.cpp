#include "formats/Text.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>
#include <vector>

namespace {

TEST(Text, TrimsEachClassAtTheEndsOnlyAndNeverAnInvalidByte) {
    // text, trimWhitespace, trimWhitespaceAndNewlines
    const std::tuple<std::string_view, std::string_view, std::string_view> rows[] = {
        {" \t a  b \t ", "a  b", "a  b"},
        {"\u00A0\u3000\u1680x\u2000\u200A\u202F\u205F", "x", "x"},
        {"\r\n x \u2028", "\r\n x \u2028", "x"},
        {" \u00A0\r\n\u2029 ", "\r\n\u2029", ""},
        // Not blanks: zero width space, byte order mark.
        {"\u200Bx\uFEFF", "\u200Bx\uFEFF", "\u200Bx\uFEFF"},
        // Characters whose last bytes look like a blank's tail stay whole.
        {" \u0120", "\u0120", "\u0120"},
        {"\u4E00\u3000", "\u4E00", "\u4E00"},
        // Invalid bytes stop the trim: lone tails, cut sequences, overlongs.
        {"\xA0", "\xA0", "\xA0"},
        {"x\xC2\xA0\xA0", "x\xC2\xA0\xA0", "x\xC2\xA0\xA0"},
        {"\xE3\x80", "\xE3\x80", "\xE3\x80"},
        {"\xC0\xA0", "\xC0\xA0", "\xC0\xA0"},
        {" \xFF\u00A0\n", "\xFF\u00A0\n", "\xFF"},
    };
    for (const auto& [text, whitespace, newlines] : rows) {
        EXPECT_EQ(Text::trimWhitespace(text), whitespace) << text;
        EXPECT_EQ(Text::trimWhitespaceAndNewlines(text), newlines) << text;
    }
}

TEST(Text, ValidatesUtf8) {
    const std::pair<std::string_view, bool> rows[] = {
        {"\u00E9\u20AC\U00010348\U0010FFFF", true},
        {"\x80", false},             // continuation without a lead
        {"\xC2", false},             // cut short at the end
        {"\xE2\x82x", false},        // cut short in the middle
        {"\xC1\xBF", false},         // overlong
        {"\xE0\x9F\xBF", false},     // overlong
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
    };
    for (const auto& [bytes, valid] : rows) {
        EXPECT_EQ(Text::isValidUtf8(bytes), valid) << testing::PrintToString(bytes);
    }
}

TEST(Text, SplitsAtLineFeedsOnlyAndCutsOnlyBetweenCharacters) {
    std::vector<std::string_view> lines;
    Text::LineReader reader("a\r\n\nb\rc\u2028d\n");
    while (const auto line = reader.next()) {
        lines.push_back(*line);
    }
    EXPECT_EQ(lines, (std::vector<std::string_view>{"a\r", "", "b\rc\u2028d", ""}));

    const std::tuple<std::string_view, std::size_t, std::string_view> cuts[] = {
        {"abc", 5, "abc"}, {"abc", 2, "ab"}, {"a\u20AC", 3, "a"}, {"a\u20AC", 4, "a\u20AC"}};
    for (const auto& [text, limit, cut] : cuts) {
        EXPECT_EQ(Text::cutToBytes(text, limit), cut) << text << " " << limit;
    }
}

} // namespace
