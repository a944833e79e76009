#include "ui/ReleaseText.h"

#include <gtest/gtest.h>

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

TEST(ChangelogRuns, BuildHeadersItemsAndBlankLinesPerBlockUpToThePaneLimits) {
    const StyledRun cut{std::string(PaneCutNote), RunFont::Body, themeDim};
    const std::pair<std::string, std::vector<StyledRun>> rows[] = {
        {"", {{"Changelog unavailable — check your connection.", RunFont::Body, themeDim}}},
        {"## 1.4.0 | 2025-03-02\n+ New route\n- Old menu\n* Balance",
         {header("v1.4.0\n2025-03-02\n"), item("  + New route\n", themeGreen),
          item("  - Old menu\n", themeRed), item("  * Balance\n", themeAmber), blankLine}},
        {"## 2.0\n## 1.0 | a\n- gone",
         {header("v2.0\n"), blankLine, header("v1.0\na\n"), item("  - gone\n", themeRed),
          blankLine}},
        {"## 1\n+ " + std::string(PaneTextLimit, 'x') + "\n## 2", {header("v1\n"), cut}},
    };
    for (const auto& [changelog, runs] : rows) {
        EXPECT_EQ(changelogRuns(parseChangelog(changelog)), runs) << changelog.substr(0, 40);
    }
    const auto many = changelogRuns(parseChangelog("## 1\n" + repeated("+ x\n", PaneLineLimit)));
    ASSERT_EQ(many.size(), PaneLineLimit + 1);
    EXPECT_EQ(many.back(), cut);
}

TEST(ReleaseNotesText, ShowsTheFirstBlockWithAtMostSixShortItems) {
    const std::pair<std::string, std::string> rows[] = {
        {"## 1.4.0 | 2025-03-02\n+ New route\n- Old menu\n* Balance",
         "v1.4.0   2025-03-02\n\n+  New route\n-  Old menu\n*  Balance\n"},
        {"## 1.0\n" + repeated("+ item\n", 10), "v1.0\n\n" + repeated("+  item\n", 6)},
        {"## 2.0\n## 1.0\n+ older", "v2.0\n\n"},
        {"## " + repeated("1", 600) + "\n+ " + repeated("\u20AC", 200),
         "v" + repeated("1", NotesTextLimit) + "\n\n+  " + repeated("\u20AC", 170) + "\n"},
    };
    for (const auto& [changelog, text] : rows) {
        EXPECT_EQ(releaseNotesText(parseChangelog(changelog)), text) << changelog.substr(0, 40);
    }
}

} // namespace
