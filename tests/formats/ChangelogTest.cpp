#include "formats/Changelog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Entries = std::vector<ChangelogEntry>;

TEST(Changelog, TextWithoutHeadersGivesNoBlocks) {
    for (const char* text :
         {"", "\n\n \t\n", "// a\n  //## 2.0\n", "+ a\nplain\n# Notes", "\r\n\u2028\u00A0\r\n"}) {
        EXPECT_EQ(parseChangelog(text), Entries{}) << text;
    }
}

TEST(Changelog, SplitsHeadersAtTheFirstBar) {
    struct Case {
        const char* line;
        const char* version;
        const char* date;
    };
    const Case cases[] = {
        {"## 1.4.0 | 2025-03-02", "1.4.0", "2025-03-02"},
        {"##1.4.0", "1.4.0", ""},
        {"## 1.4.0 | beta | 2025-03-02", "1.4.0", "beta | 2025-03-02"},
        {"## | 2025-03-02", "", "2025-03-02"},
        {"##", "", ""},
        {"### 1.4.0", "# 1.4.0", ""},
        {" \t## 1.0", "1.0", ""},
        {"##\u00A01.0\u3000|\u2002today", "1.0", "today"},
        {"## 1.0 // not a comment", "1.0 // not a comment", ""},
        {"## \xFF|\xC2", "\xFF", "\xC2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseChangelog(c.line), (Entries{{c.version, c.date, {}}})) << c.line;
    }
}

TEST(Changelog, TakesTheKindFromTheFirstCharacter) {
    const std::pair<std::string, ChangelogLine> cases[] = {
        {"   + New salvage route", {'+', "New salvage route"}},
        {"-Old menu removed", {'-', "Old menu removed"}},
        {"*", {'*', ""}},
        {"+  a   b  ", {'+', "a   b"}},
        {"+\u00A0x\u3000", {'+', "x"}},
        {"**x", {'*', "*x"}},
        {"Balance pass", {'*', "Balance pass"}},
        {"\u2022 Balance pass", {'*', "\u2022 Balance pass"}},
        {"a // b", {'*', "a // b"}},
        {"\t+ x\r", {'+', "x"}},
        {"+ \xA0", {'+', "\xA0"}},
        {"\xFF", {'*', "\xFF"}},
    };
    for (const auto& [line, expected] : cases) {
        const Entries entries = parseChangelog("## 1\n" + line);
        ASSERT_EQ(entries.size(), 1u) << line;
        EXPECT_EQ(entries[0].lines, std::vector<ChangelogLine>{expected}) << line;
    }
}

TEST(Changelog, KeepsBlocksAndLinesInFileOrder) {
    const std::string text = "intro dropped\n"
                             "## 2.0 | 2025-04-01\n"
                             "+ added\n"
                             "// internal note\n"
                             "\n"
                             "- removed\n"
                             "## 1.9\n"
                             "## 1.8 | 2025-02-01\n"
                             "fixed\n";
    const Entries expected = {
        {"2.0", "2025-04-01", {{'+', "added"}, {'-', "removed"}}},
        {"1.9", "", {}},
        {"1.8", "2025-02-01", {{'*', "fixed"}}},
    };
    EXPECT_EQ(parseChangelog(text), expected);

    std::string withoutFinalLineFeed = text;
    withoutFinalLineFeed.pop_back();
    EXPECT_EQ(parseChangelog(withoutFinalLineFeed), expected);
    EXPECT_EQ(parseChangelog(text + "\n\n"), expected);

    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(parseChangelog(crlf), expected);
}

} // namespace
