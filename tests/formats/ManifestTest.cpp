#include "formats/Manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

// Each case names the fields that differ from the default record.
struct ManifestCase {
    const char* name;
    std::string text;
    void (*expect)(Manifest&);
};

TEST(Manifest, ParsesLinesKeysAndValues) {
    const ManifestCase cases[] = {
        {"empty text gives the defaults", "",
         [](Manifest&) {
         }},
        {"every key",
         "version=1.4.0\nmacurl=https://h/a.zip\nmacsize=123\nmacexe=Game.app\nnotes=Hi there\n"
         "macsha256=AbC\n",
         [](Manifest& m) {
             m.version = "1.4.0";
             m.url = "https://h/a.zip";
             m.size = 123;
             m.exe = "Game.app";
             m.notes = "Hi there";
             m.sha256 = "AbC";
         }},
        {"blanks around key, equals and value go; inner ones stay", "  version \t=\t 1.0  beta  ",
         [](Manifest& m) {
             m.version = "1.0  beta";
         }},
        {"value keeps every later equals sign", "macurl = https://h/a?x=1&y==2=",
         [](Manifest& m) {
             m.url = "https://h/a?x=1&y==2=";
         }},
        {"inner # and // are text", "notes = a # b // c",
         [](Manifest& m) {
             m.notes = "a # b // c";
         }},
        {"comments after trimming", "  # version=1\n\t// version=2\n#version=3\n//version=4",
         [](Manifest&) {
         }},
        {"a single slash is no comment", "/version=1",
         [](Manifest&) {
         }},
        {"line without equals skipped", "version 1\nnotes=n",
         [](Manifest& m) {
             m.notes = "n";
         }},
        {"empty key ignored", "=1\n = 2",
         [](Manifest&) {
         }},
        {"other letter case ignored", "version=1\nVersion=2\nVERSION=3",
         [](Manifest& m) {
             m.version = "1";
         }},
        {"inner blank in key ignored", "mac url=u",
         [](Manifest&) {
         }},
        {"last occurrence wins, even when empty", "version=1\nversion=2\nnotes=a\nnotes=",
         [](Manifest& m) {
             m.version = "2";
         }},
        {"macexe may be set empty", "macexe=",
         [](Manifest& m) {
             m.exe = "";
         }},
        {"Unicode spaces around key and value", "\u00A0version\u2002=\u3000 1.0\u202F",
         [](Manifest& m) {
             m.version = "1.0";
         }},
        {"Unicode line ends trimmed from the line", "\u0085version=1\u2028\nnotes=n\u2029\v",
         [](Manifest& m) {
             m.version = "1";
             m.notes = "n";
         }},
        {"a line separator inside the key is not trimmed", "version\u2028=1",
         [](Manifest&) {
         }},
        {"zero width space is not white space", "version=\u200B1",
         [](Manifest& m) {
             m.version = "\u200B1";
         }},
        {"CR LF lines are separate lines", "version=1\r\nmacurl=u\r\nmacsize=5\r\nnotes=n\r\n",
         [](Manifest& m) {
             m.version = "1";
             m.url = "u";
             m.size = 5;
             m.notes = "n";
         }},
        {"CR LF comment line", "# c\r\nversion=1\r\n",
         [](Manifest& m) {
             m.version = "1";
         }},
        {"invalid bytes kept as text, never trimmed",
         "version=\xFF\xFE\nmacurl=\xC2\nnotes=\xA0 \n\xA0notes=x",
         [](Manifest& m) {
             m.version = "\xFF\xFE";
             m.url = "\xC2";
             m.notes = "\xA0";
         }},
    };
    for (const ManifestCase& c : cases) {
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
        {"123", 123},
        {"+42", 42},
        {"-42", -42},
        {"007", 7},
        {" 1 ", 1}, // the value is trimmed first
        {"\u00A01\t", 1},
        {"9223372036854775807", max},
        {"+9223372036854775807", max},
        {"-9223372036854775808", min},
        {"9223372036854775808", 0},
        {"-9223372036854775809", 0},
        {"99999999999999999999999", 0},
        {"", 0},
        {"+", 0},
        {"-", 0},
        {"+-1", 0},
        {"-+1", 0},
        {"--1", 0},
        {"++1", 0},
        {"1 0", 0},
        {"0x10", 0},
        {"1_000", 0},
        {"1.5", 0},
        {"1e3", 0},
        {"12MB", 0},
        {"\u0661\u0662", 0}, // Arabic-Indic digits are not ASCII digits
        {"\xFF", 0},
    };
    for (const auto& [value, size] : cases) {
        EXPECT_EQ(Manifest::parse("macsize=" + value).size, size) << value;
    }
    EXPECT_EQ(Manifest::parse("macsize=5\nmacsize=5 MB").size, 0) << "last occurrence wins";
}

} // namespace
