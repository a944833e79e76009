#include "formats/Manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(Manifest, ParsesLinesKeysAndValues) {
    const struct {
        const char* name;
        std::string text;
        void (*expect)(Manifest&);
    } cases[] = {
        {"empty text gives the defaults", "",
         [](Manifest&) {
         }},
        {"every key",
         "version=1.4.0\nmacurl=https://h/a.zip\nmacsize=123\nmacexe=Game.app\nnotes=Hi there\n"
         "macsha256=AbC\nmacindex=https://h/a.zip.index\nmacindexsha256=dEf\n",
         [](Manifest& m) {
             m = {"1.4.0", "https://h/a.zip",       123,  "Game.app", "Hi there",
                  "AbC",   "https://h/a.zip.index", "dEf"};
         }},
        {"blanks around key, equals and value go; inner ones stay", "  version \t=\t 1.0  beta  ",
         [](Manifest& m) {
             m.version = "1.0  beta";
         }},
        {"value keeps every later equals sign and inner comment marks",
         "macurl = https://h/a?x=1&y==2=\nnotes = a # b // c",
         [](Manifest& m) {
             m.url = "https://h/a?x=1&y==2=";
             m.notes = "a # b // c";
         }},
        {"comments after trimming; a single slash is no comment",
         "  # version=1\n\t// version=2\n/notes=3",
         [](Manifest&) {
         }},
        {"lines without equals, empty keys, other letter case and inner blanks ignored",
         "version 1\n=1\nVersion=2\nmac url=u\nnotes=n",
         [](Manifest& m) {
             m.notes = "n";
         }},
        {"last occurrence wins, even when empty", "version=1\nversion=2\nnotes=a\nnotes=",
         [](Manifest& m) {
             m.version = "2";
         }},
        {"macexe may be set empty", "macexe=",
         [](Manifest& m) {
             m.exe = "";
         }},
        {"Unicode spaces and line ends trimmed",
         "\u0085\u00A0version\u2002=\u3000 1.0\u2028\nnotes=n\u2029\v",
         [](Manifest& m) {
             m.version = "1.0";
             m.notes = "n";
         }},
        {"CR LF lines and comments", "# c\r\nversion=1\r\nmacsize=5\r\n",
         [](Manifest& m) {
             m.version = "1";
             m.size = 5;
         }},
        {"invalid bytes kept as text, never trimmed",
         "version=\xFF\xFE\nmacurl=\xC2\nnotes=\xA0 \n\xA0notes=x",
         [](Manifest& m) {
             m.version = "\xFF\xFE";
             m.url = "\xC2";
             m.notes = "\xA0";
         }},
    };
    for (const auto& c : cases) {
        Manifest expected;
        c.expect(expected);
        EXPECT_EQ(Manifest::parse(c.text), expected) << c.name;
    }
}

TEST(Manifest, ReadsSizeOnlyAsASignedDecimalThatFits) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const std::pair<std::string, std::int64_t> cases[] = {
        {"0", 0},
        {"+42", 42},
        {"-42", -42},
        {"007", 7},
        {"\u00A01\t", 1}, // the value is trimmed first
        {"9223372036854775807", max},
        {"-9223372036854775808", min},
        {"9223372036854775808", 0},
        {"-9223372036854775809", 0},
        {"", 0},
        {"-", 0},
        {"+-1", 0},
        {"1 0", 0},
        {"0x10", 0},
        {"1.5", 0},
        {"12MB", 0},
        {"\u0661\u0662", 0}, // Arabic-Indic digits are not ASCII digits
    };
    for (const auto& [value, size] : cases) {
        EXPECT_EQ(Manifest::parse("macsize=" + value).size, size) << value;
    }
    EXPECT_EQ(Manifest::parse("macsize=5\nmacsize=5 MB").size, 0) << "last occurrence wins";
}

} // namespace
