#include "formats/Manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// 2026-12-07T00:26:33Z
const ReleaseTime published = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + 26min + 33s;

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
             m = {"1.4.0", "https://h/a.zip",       123,  "Game.app", "Hi there", "AbC",
                  {},      "https://h/a.zip.index", "dEf"};
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
        {"a byte order mark before the first key is skipped",
         "\xEF\xBB\xBFversion=1\nnotes=\uFEFFn",
         [](Manifest& m) {
             m.version = "1";
             m.notes = "\uFEFFn";
         }},
        {"a control character other than tab makes its line malformed",
         "version=1.1\r\x1b[2KPASS\x1b[8m\nmacurl=https://h/a\0.zip\nmacexe=A\x7f\nnotes=\u009B1m\n"
         "macsha256=a\tb"s,
         [](Manifest& m) {
             m.sha256 = "a\tb";
         }},
        {"released: the last occurrence wins, even when malformed",
         "released=2026-12-07T00:26:33Z\nnotes=n\nreleased=soon",
         [](Manifest& m) {
             m.notes = "n";
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

TEST(ReleaseTime, ReadsOnlyTheOneUtcForm) {
    const std::pair<std::string, std::optional<ReleaseTime>> cases[] = {
        {"2026-12-07T00:26:33Z", published},
        {"2024-02-29T23:59:59Z", std::chrono::sys_days(std::chrono::year(2024) / 3 / 1) - 1s},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-12-07T24:00:00Z", std::nullopt},
        {"2026-12-07T00:26:60Z", std::nullopt},
        {"2026-12-07t00:26:33z", std::nullopt},
        {"2026-12-07 00:26:33Z", std::nullopt},
        {"2026-12-07T00:26:33", std::nullopt},
        {"2026-12-07T00:26:33+00:00", std::nullopt},
        {"2026-12-07T00:26:33.5Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, time] : cases) {
        EXPECT_EQ(Manifest::parse("released=" + text).released, time) << text;
        if (time) {
            EXPECT_EQ(formatReleaseTime(*time), text);
        }
    }
}

TEST(ReleaseTime, OnlyAnEarlierOrMissingMomentIsOlderOnceOneWasAccepted) {
    const std::optional<ReleaseTime> none;
    const struct {
        std::optional<ReleaseTime> offered, accepted;
        bool older;
    } cases[] = {
        {none, none, false},
        {published, none, false},
        {published, published, false},
        {published + 1s, published, false},
        {published - 1s, published, true},
        {none, published, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isOlderRelease(c.offered, c.accepted), c.older)
            << testing::PrintToString(c.offered.has_value()) << " "
            << testing::PrintToString(c.accepted.has_value());
    }
}

} // namespace
