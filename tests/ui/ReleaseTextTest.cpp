#include "ui/ReleaseText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

void PrintTo(const StyledRun& run, std::ostream* out) {
    *out << '{' << testing::PrintToString(run.text)
         << (run.font == RunFont::Header ? " header" : " body");
    if (run.colour) {
        *out << " rgb(" << run.colour->red << ", " << run.colour->green << ", " << run.colour->blue
             << ')';
    } else {
        *out << " no colour";
    }
    *out << '}';
}

namespace {

ChangelogEntry block(std::string version, std::string date, std::vector<ChangelogLine> lines) {
    return {std::move(version), std::move(date), std::move(lines)};
}

std::vector<ChangelogLine> numberedLines(int count) {
    std::vector<ChangelogLine> lines;
    for (int i = 1; i <= count; ++i) {
        lines.push_back({'+', "item " + std::to_string(i)});
    }
    return lines;
}

const StyledRun blankLine{"\n", RunFont::Body, std::nullopt};

StyledRun header(std::string text) {
    return {std::move(text), RunFont::Header, themeCyan};
}

StyledRun item(std::string text, Colour colour) {
    return {std::move(text), RunFont::Body, colour};
}

struct RunsCase {
    const char* name;
    std::vector<ChangelogEntry> entries;
    std::vector<StyledRun> runs;
};

TEST(ChangelogRuns, BuildHeadersItemsAndBlankLinesPerBlock) {
    const std::vector<RunsCase> cases = {
        {"empty list",
         {},
         {{"Changelog unavailable — check your connection.", RunFont::Body, themeDim}}},
        {"one dated block, every kind",
         {block("1.4.0", "2025-03-02",
                {{'+', "New salvage route"}, {'-', "Old menu removed"}, {'*', "Balance pass"}})},
         {header("v1.4.0\n2025-03-02\n"), item("  + New salvage route\n", themeGreen),
          item("  - Old menu removed\n", themeRed), item("  * Balance pass\n", themeAmber),
          blankLine}},
        {"date-less block stays on one header line",
         {block("1.4.0", "", {{'+', "x"}})},
         {header("v1.4.0\n"), item("  + x\n", themeGreen), blankLine}},
        {"empty version, no lines", {block("", "", {})}, {header("v\n"), blankLine}},
        {"unknown kind shows as a star",
         {block("1", "", {{'?', "odd"}, {'*', ""}})},
         {header("v1\n"), item("  * odd\n", themeAmber), item("  * \n", themeAmber), blankLine}},
        {"blocks keep file order, each followed by a blank line",
         {block("2.0", "b", {}), block("1.0", "a", {{'-', "gone"}})},
         {header("v2.0\nb\n"), blankLine, header("v1.0\na\n"), item("  - gone\n", themeRed),
          blankLine}},
    };
    for (const RunsCase& c : cases) {
        EXPECT_EQ(changelogRuns(c.entries), c.runs) << c.name;
    }
}

struct NotesCase {
    const char* name;
    std::vector<ChangelogEntry> entries;
    std::string text;
};

TEST(ReleaseNotesText, ShowsTheFirstBlockWithAtMostSixItems) {
    const std::vector<NotesCase> cases = {
        {"empty list", {}, "No release notes available."},
        {"dated block",
         {block("1.4.0", "2025-03-02", {{'+', "New route"}, {'-', "Old menu"}, {'*', "Balance"}})},
         "v1.4.0   2025-03-02\n\n+  New route\n-  Old menu\n*  Balance\n"},
        {"empty version", {block("", "", {{'?', "odd"}})}, "v\n\n*  odd\n"},
        {"ten lines give six",
         {block("1.0", "", numberedLines(10))},
         "v1.0\n\n+  item 1\n+  item 2\n+  item 3\n+  item 4\n+  item 5\n+  item 6\n"},
        {"only the first block, even without lines",
         {block("2.0", "", {}), block("1.0", "", {{'+', "older"}})},
         "v2.0\n\n"},
    };
    for (const NotesCase& c : cases) {
        EXPECT_EQ(releaseNotesText(c.entries), c.text) << c.name;
    }
}

struct VersionLineCase {
    std::string installed;
    std::string latest;
    std::string state;
    std::string text;
    Colour colour;
};

TEST(VersionLine, StateWordChoosesSuffixAndColour) {
    const std::vector<VersionLineCase> cases = {
        {"1.4.0", "1.4.0", "UP TO DATE", "Installed v1.4.0   ·   Latest v1.4.0   ·   up to date",
         themeGreen},
        {"1.3.9", "1.4.0", "UPDATED", "Installed v1.3.9   ·   Latest v1.4.0   ·   updated",
         themeGreen},
        {"1.3.9", "1.3.9", "OFFLINE", "Installed v1.3.9   ·   Latest v1.3.9   ·   offline",
         themeAmber},
        {"", "", "ERROR", "Installed —   ·   Latest —   ·   error", themeRed},
        {"", "1.4.0", "ERROR", "Installed —   ·   Latest v1.4.0   ·   error", themeRed},
        // Only the exact upper-case words count; anything else is the neutral line.
        {"1.3.9", "1.4.0", "updated", "Installed v1.3.9   ·   Latest v1.4.0", themeDim},
        {"1", "2", "UPDATED ", "Installed v1   ·   Latest v2", themeDim},
    };
    for (const VersionLineCase& c : cases) {
        const VersionLine line = versionLine(c.installed, c.latest, c.state);
        EXPECT_EQ(line.text, c.text) << c.state;
        EXPECT_EQ(line.colour, c.colour) << c.state;
    }
}

} // namespace
