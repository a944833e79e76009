#include "formats/Manifest.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const ReleaseTime published = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + 26min + 33s;

TEST(Manifest, ParsesLinesKeysAndValues) {
    const Manifest everyKey{"1.4.0", "https://h/a.zip", 123,           "Game.app", "Hi",
                            "AbC",   published,         "https://h/i", "dEf"};
    EXPECT_EQ(Manifest::parse("version=1.4.0\nmacurl=https://h/a.zip\nmacsize=123\n"
                              "macexe=Game.app\nnotes=Hi\nmacsha256=AbC\nmacindex=https://h/i\n"
                              "macindexsha256=dEf\nreleased=2026-12-07T00:26:33Z\n"),
              everyKey);

    using Field = std::string Manifest::*;
    const struct {
        const char* name;
        std::string text;
        std::vector<std::pair<Field, std::string>> fields; // the rest keep their defaults
    } rows[] = {
        {"blanks around key and value go, inner ones stay",
         "  version \t=\t 1.0  beta  ",
         {{&Manifest::version, "1.0  beta"}}},
        {"the value keeps later equals signs and comment marks",
         "macurl = https://h/a?x==2=\nnotes = a # b // c",
         {{&Manifest::url, "https://h/a?x==2="}, {&Manifest::notes, "a # b // c"}}},
        {"unknown keys, letter case and lines without equals ignored",
         "version 1\n=1\nVersion=2\nmac url=u\nnotes=n",
         {{&Manifest::notes, "n"}}},
        {"the last occurrence wins, even when empty or malformed",
         "version=1\nversion=2\nnotes=a\nnotes=\nreleased=2026-12-07T00:26:33Z\nreleased=soon",
         {{&Manifest::version, "2"}}},
        {"macexe may be set empty", "macexe=", {{&Manifest::exe, ""}}},
        {"Unicode blanks and line ends trimmed",
         "\u0085version\u2002=\u3000 1.0\u2028\n",
         {{&Manifest::version, "1.0"}}},
        {"CR LF lines",
         "# c\r\nversion=1\r\nmacurl=u\r\n",
         {{&Manifest::version, "1"}, {&Manifest::url, "u"}}},
        {"a byte order mark is skipped before the first key only",
         "\xEF\xBB\xBFversion=1\nnotes=\uFEFFn",
         {{&Manifest::version, "1"}, {&Manifest::notes, "\uFEFFn"}}},
        {"a control character other than tab makes its line malformed",
         "version=1.1\r\x1b[2KPASS\nmacurl=https://h/a\0.zip\nmacexe=A\x7f\nnotes=\u009B1m\n"
         "macsha256=a\tb"s,
         {{&Manifest::sha256, "a\tb"}}},
        {"invalid bytes kept as text, never trimmed",
         "version=\xFF\xFE\nnotes=\xA0 \n",
         {{&Manifest::version, "\xFF\xFE"}, {&Manifest::notes, "\xA0"}}},
    };
    for (const auto& row : rows) {
        Manifest expected;
        for (const auto& [field, value] : row.fields) {
            expected.*field = value;
        }
        EXPECT_EQ(Manifest::parse(row.text), expected) << row.name;
    }
}

TEST(Manifest, ReadsSizeOnlyAsASignedDecimalThatFits) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const std::pair<std::string, std::int64_t> rows[] = {
        {"+42", 42},
        {"-42", -42},
        {"007", 7},
        {"9223372036854775807", max},
        {"-9223372036854775808", min},
        {"9223372036854775808", 0},
        {"-", 0},
        {"+-1", 0},
        {"1 0", 0},
        {"0x10", 0},
        {"12MB", 0},
        {"\u0661", 0}, // an Arabic-Indic digit is no ASCII digit
    };
    for (const auto& [value, size] : rows) {
        EXPECT_EQ(Manifest::parse("macsize=" + value).size, size) << value;
    }
}

TEST(ReleaseTime, ReadsOnlyTheOneUtcForm) {
    const std::pair<std::string, std::optional<ReleaseTime>> rows[] = {
        {"2026-12-07T00:26:33Z", published},
        {"2024-02-29T23:59:59Z", std::chrono::sys_days(std::chrono::year(2024) / 3 / 1) - 1s},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-12-07T24:00:00Z", std::nullopt},
        {"2026-12-07T00:60:33Z", std::nullopt},
        {"2026-12-07t00:26:33z", std::nullopt},
        {"2026-12-07T00:26:33+00:00", std::nullopt},
    };
    for (const auto& [text, time] : rows) {
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
    } rows[] = {
        {none, none, false},           {published, none, false},
        {published, published, false}, {published - 1s, published, true},
        {none, published, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(isOlderRelease(row.offered, row.accepted), row.older);
    }
}

} // namespace
