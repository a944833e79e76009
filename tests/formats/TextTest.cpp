#include "formats/Text.h"

#include <gtest/gtest.h>

#include <tuple>

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
        // A character whose last byte looks like a blank's tail stays whole.
        {" \u0120", "\u0120", "\u0120"},
        // Invalid bytes stop the trim: lone tails, cut sequences, overlongs.
        {"\xA0", "\xA0", "\xA0"},
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
    EXPECT_TRUE(Text::isValidUtf8("\u00E9\u20AC\U00010348\U0010FFFF"));
    // A tail without a lead, cut short at the end and in the middle, overlong two- and
    // three-byte forms, a surrogate, past U+10FFFF.
    for (const std::string_view bytes : {"\x80", "\xC2", "\xE2\x82x", "\xC1\xBF", "\xE0\x9F\xBF",
                                         "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(Text::isValidUtf8(bytes)) << testing::PrintToString(bytes);
    }
}

} // namespace
