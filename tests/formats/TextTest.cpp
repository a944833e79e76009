#include "formats/Text.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>
#include <vector>

namespace {

struct TrimCase {
    std::string_view text;
    std::string_view whitespace;            // expected from trimWhitespace
    std::string_view whitespaceAndNewlines; // expected from trimWhitespaceAndNewlines
};

TEST(Text, TrimsEachClassAtTheEndsOnly) {
    const TrimCase cases[] = {
        {"", "", ""},
        {" \t a  b \t ", "a  b", "a  b"},
        {"\u00A0x\u00A0", "x", "x"},
        {"\u3000\u1680x\u2000\u200A\u202F\u205F", "x", "x"},
        {"\r\n x \r\n", "\r\n x \r\n", "x"},
        {"\u2028x\u2029", "\u2028x\u2029", "x"},
        {" \u00A0\r\n\u2028 ", "\r\n\u2028", ""},
        // Not in either class: zero width space (Cf), BOM, ideographic comma.
        {"\u200Bx\uFEFF", "\u200Bx\uFEFF", "\u200Bx\uFEFF"},
        // Characters whose last bytes look like a space's tail stay whole.
        {" \u0120", "\u0120", "\u0120"},      // C4 A0, tail of U+00A0 is A0
        {"\u4E00\u3000", "\u4E00", "\u4E00"}, // E4 B8 80 before E3 80 80
    };
    for (const TrimCase& c : cases) {
        EXPECT_EQ(Text::trimWhitespace(c.text), c.whitespace) << c.text;
        EXPECT_EQ(Text::trimWhitespaceAndNewlines(c.text), c.whitespaceAndNewlines) << c.text;
    }
}

TEST(Text, InvalidBytesAreNeverWhitespace) {
    const std::string_view cases[] = {
        "\xA0",              // lone tail of U+00A0
        "\xC2",              // lead of U+00A0 without its tail
        "x\xC2\xA0\xA0",     // a space followed by a stray continuation byte
        "\x80\x80x\x80\x80", //
        "\xE3\x80",          // U+3000 cut short
        "\xC0\xA0",          // overlong U+0020
        "\xFFx\xFE",         //
    };
    for (std::string_view text : cases) {
        EXPECT_EQ(Text::trimWhitespace(text), text);
        EXPECT_EQ(Text::trimWhitespaceAndNewlines(text), text);
    }
    // A valid space next to an invalid byte is still trimmed; the invalid byte stops the trim.
    EXPECT_EQ(Text::trimWhitespaceAndNewlines(" \xFF\u00A0\n"), "\xFF");
}

TEST(Text, ValidatesUtf8) {
    const std::pair<std::string_view, bool> cases[] = {
        {"", true},
        {"plain", true},
        {"\u00E9\u20AC\U00010348\U0010FFFF", true},
        {"\x80", false},             // continuation without a lead
        {"\xFF", false},             // never valid
        {"\xC2", false},             // cut short at the end
        {"\xE2\x82x", false},        // cut short in the middle
        {"\xC0\xAF", false},         // overlong
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
        {"ok\xC3\x28", false},       // wrong continuation
    };
    for (const auto& [bytes, valid] : cases) {
        EXPECT_EQ(Text::isValidUtf8(bytes), valid) << testing::PrintToString(bytes);
    }
}

TEST(Text, SplitsAtLineFeedsOnly) {
    using Lines = std::vector<std::string_view>;
    const auto lines = [](std::string_view text) {
        Text::LineReader reader(text);
        Lines read;
        while (const auto line = reader.next()) {
            read.push_back(*line);
        }
        return read;
    };
    EXPECT_EQ(lines(""), Lines{""});
    EXPECT_EQ(lines("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(lines("a\r\nb\r\n"), (Lines{"a\r", "b\r", ""}));
    EXPECT_EQ(lines("a\rb\u2028c"), Lines{"a\rb\u2028c"});
}

TEST(Text, CutsOnlyBetweenCharacters) {
    const std::tuple<std::string_view, std::size_t, std::string_view> cases[] = {
        {"abc", 5, "abc"},         {"abc", 2, "ab"},
        {"a\u20AC", 3, "a"}, // the euro sign's three bytes stay whole
        {"a\u20AC", 4, "a\u20AC"}, {"\U00010348", 3, ""},
    };
    for (const auto& [text, limit, cut] : cases) {
        EXPECT_EQ(Text::cutToBytes(text, limit), cut) << text << " " << limit;
    }
}

} // namespace
