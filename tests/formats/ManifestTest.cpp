#include "formats/Manifest.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const ReleaseTime published = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + 26min + 33s;
const std::optional<ReleaseTime> none;

TEST(Manifest, ParsesLinesKeysAndValues) {
    const Manifest everyKey{"1.4.0", "https://h/a.zip", 123,           "Game.app", "H\ti",
                            "AbC",   published,         "https://h/i", "dEf"};
    EXPECT_EQ(Manifest::parse("version=1.4.0\nmacurl=https://h/a.zip\nmacsize=123\n"
                              "macexe=Game.app\nnotes=H\ti\nmacsha256=AbC\nmacindex=https://h/i\n"
                              "macindexsha256=dEf\nreleased=2026-12-07T00:26:33Z\n"),
              everyKey);

    // Each text reads exactly like the plain key=value lines beside it.
    const std::pair<std::string, std::string> rows[] = {
        // Blanks around key and value go, inner ones stay.
        {"  version \t=\t 1.0  beta  ", "version=1.0  beta"},
        // The value keeps later equals signs and comment marks.
        {"macurl = https://h/a?x==2=\nnotes = a # b // c",
         "macurl=https://h/a?x==2=\nnotes=a # b // c"},
        // Unknown keys, letter case and lines without equals are ignored.
        {"version 1\n=1\nVersion=2\nmac url=u\nnotes=n", "notes=n"},
        // The last occurrence wins, even when empty or malformed.
        {"version=1\nversion=2\nnotes=a\nnotes=\nreleased=2026-12-07T00:26:33Z\nreleased=soon",
         "version=2"},
        // CR LF, Unicode blanks and line ends are trimmed.
        {"# c\r\n\u0085version\u2002=\u3000 1\u2028\r\nmacurl=u\r\n", "version=1\nmacurl=u"},
        // A byte order mark is skipped before the first key only.
        {"\xEF\xBB\xBFversion=1\nnotes=\uFEFFn", "version=1\nnotes=\uFEFFn"},
        // A control character other than tab makes its line malformed.
        {"version=1.1\r\x1b[2KPASS\nmacurl=https://h/a\0.zip\nmacexe=A\x7f\nnotes=\u009B1m\n"
         "macsha256=a\tb"s,
         "macsha256=a\tb"},
    };
    for (const auto& [text, plain] : rows) {
        EXPECT_EQ(Manifest::parse(text), Manifest::parse(plain)) << text;
    }
}

TEST(Manifest, ReadsSizeOnlyAsASignedDecimalThatFits) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const std::pair<std::string, std::int64_t> rows[] = {
        {"+42", 42},   {"-42", -42}, {"9223372036854775807", max}, {"-9223372036854775808", min},
        {"-", 0},      {"+-1", 0},   {"9223372036854775808", 0},   {"12MB", 0},
        {"\u0661", 0}, // an Arabic-Indic digit is no ASCII digit
    };
    for (const auto& [value, size] : rows) {
        EXPECT_EQ(Manifest::parse("macsize=" + value).size, size) << value;
    }
}

TEST(ReleaseTime, ReadsOnlyTheOneUtcForm) {
    const std::pair<std::string, ReleaseTime> rows[] = {
        {"2026-12-07T00:26:33Z", published},
        {"2024-02-29T23:59:59Z", std::chrono::sys_days(std::chrono::year(2024) / 3 / 1) - 1s},
    };
    for (const auto& [text, time] : rows) {
        EXPECT_EQ(Manifest::parse("released=" + text).released, time) << text;
        EXPECT_EQ(formatReleaseTime(time), text);
    }
    for (const std::string text :
         {"2023-02-29T00:00:00Z", "2026-12-07T24:00:00Z", "2026-12-07T00:60:33Z",
          "2026-12-07t00:26:33z", "2026-12-07T00:26:33+00:00"}) {
        EXPECT_EQ(Manifest::parse("released=" + text).released, none) << text;
    }
}

TEST(ReleaseTime, OnlyAnEarlierOrMissingMomentIsOlderOnceOneWasAccepted) {
    // offered, newest accepted, older
    const std::tuple<std::optional<ReleaseTime>, std::optional<ReleaseTime>, bool> rows[] = {
        {none, none, false},
        {published, published, false},
        {published - 1s, published, true},
        {none, published, true},
    };
    for (const auto& [offered, accepted, older] : rows) {
        EXPECT_EQ(isOlderRelease(offered, accepted), older);
    }
}

} // namespace
