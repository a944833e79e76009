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

const StyledRun blankLine{"\n", RunFont::Body, std::nullopt};

StyledRun header(std::string text) {
    return {std::move(text), RunFont::Header, themeCyan};
}

StyledRun item(std::string text, Colour colour) {
    return {std::move(text), RunFont::Body, colour};
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string whole;
    for (std::size_t i = 0; i < times; ++i) {
        whole += text;
    }
    return whole;
}

struct RunsCase {
    const char* name;
    const char* changelog;
    std::vector<StyledRun> runs;
};

TEST(ChangelogRuns, BuildHeadersItemsAndBlankLinesPerBlock) {
    const std::vector<RunsCase> cases = {
        {"empty list",
         "",
         {{"Changelog unavailable — check your connection.", RunFont::Body, themeDim}}},
        {"one dated block, every kind",
         "## 1.4.0 | 2025-03-02\n+ New salvage route\n- Old menu removed\n* Balance pass",
         {header("v1.4.0\n2025-03-02\n"), item("  + New salvage route\n", themeGreen),
          item("  - Old menu removed\n", themeRed), item("  * Balance pass\n", themeAmber),
          blankLine}},
        {"date-less block stays on one header line",
         "## 1.4.0\n+ x",
         {header("v1.4.0\n"), item("  + x\n", themeGreen), blankLine}},
        {"empty version, no lines", "##", {header("v\n"), blankLine}},
        {"blocks keep file order, each followed by a blank line",
         "## 2.0 | b\n## 1.0 | a\n- gone",
         {header("v2.0\nb\n"), blankLine, header("v1.0\na\n"), item("  - gone\n", themeRed),
          blankLine}},
    };
    for (const RunsCase& c : cases) {
        EXPECT_EQ(changelogRuns(parseChangelog(c.changelog)), c.runs) << c.name;
    }
}

// Whatever the host serves, the pane holds a bounded amount: past it, a note.
TEST(ChangelogRuns, StopAtThePaneLimitsWithANote) {
    const StyledRun note{std::string(PaneCutNote), RunFont::Body, themeDim};
    const std::pair<std::string, std::size_t> cases[] = {
        {"## 1\n" + repeated("+ x\n", PaneLineLimit), PaneLineLimit}, // header and items
        {"## 1\n+ " + std::string(PaneTextLimit, 'x') + "\n## 2", 1}, // the header only
    };
    for (const auto& [changelog, kept] : cases) {
        const std::vector<StyledRun> runs = changelogRuns(parseChangelog(changelog));
        ASSERT_EQ(runs.size(), kept + 1);
        EXPECT_EQ(runs.back(), note);
    }
}

struct NotesCase {
    const char* name;
    std::string changelog;
    std::string text;
};

TEST(ReleaseNotesText, ShowsTheFirstBlockWithAtMostSixShortItems) {
    const std::vector<NotesCase> cases = {
        {"empty list", "", "No release notes available."},
        {"dated block", "## 1.4.0 | 2025-03-02\n+ New route\n- Old menu\n* Balance",
         "v1.4.0   2025-03-02\n\n+  New route\n-  Old menu\n*  Balance\n"},
        {"empty version", "##\nodd", "v\n\n*  odd\n"},
        {"ten lines give six", "## 1.0\n" + repeated("+ item\n", 10),
         "v1.0\n\n" + repeated("+  item\n", 6)},
        {"only the first block, even without lines", "## 2.0\n## 1.0\n+ older", "v2.0\n\n"},
        {"long texts are cut", "## " + repeated("1", 600) + "\n+ " + repeated("\u20AC", 200),
         "v" + repeated("1", NotesTextLimit) + "\n\n+  " + repeated("\u20AC", 170) + "\n"},
    };
    for (const NotesCase& c : cases) {
        EXPECT_EQ(releaseNotesText(parseChangelog(c.changelog)), c.text) << c.name;
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
