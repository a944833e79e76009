#include "formats/Changelog.h"

#include <gtest/gtest.h>

namespace {

// The blocks as "[version|date]" and "<kind><text>" lines, in the order the parser hands them
// out; its count of blocks must agree.
std::string shown(const Changelog& changelog) {
    std::string text;
    std::size_t blocks = 0;
    for (const ChangelogEntry& entry : changelog) {
        ++blocks;
        text.append("[").append(entry.version).append("|").append(entry.date).append("]\n");
        for (const ChangelogLine line : entry.lines) {
            text.append(1, line.kind).append(line.text).append("\n");
        }
    }
    return blocks == changelog.size() ? text : "size() says " + std::to_string(changelog.size());
}

TEST(Changelog, ReadsHeadersAndTheKindOfEachLine) {
    const std::pair<std::string, std::string> rows[] = {
        // No header, no block: comments, blanks and lines before the first header go.
        {"// a\n  //## 2.0\n+ a\nplain\n# Notes\n\r\n\u2028", ""},
        {"\xEF\xBB\xBF## 1.0 | 2025-03-02", "[1.0|2025-03-02]\n"},
        {"##1.4.0\n## | 2025-03-02\n## 1.0 |\n##", "[1.4.0|]\n[|2025-03-02]\n[1.0|]\n[|]\n"},
        {"## 1.4.0 | be\u2028ta | 2025-03-02", "[1.4.0|be\u2028ta | 2025-03-02]\n"},
        {"### 1.4.0\n \t## 1.0 // no comment", "[# 1.4.0|]\n[1.0 // no comment|]\n"},
        {"## 1.1\r\x1b[2KPASS | \x07today", "[1.1\uFFFD\uFFFD[2KPASS|\uFFFDtoday]\n"},
        {"## 1\n   + New route\n-Old menu\n*\n+  a   b  \n**x\nBalance\n\u2022 pass\na // b\n\xFF",
         "[1|]\n+New route\n-Old menu\n*\n+a   b\n**x\n*Balance\n*\u2022 pass\n*a // b\n*\xFF\n"},
        {"## 1\n\t+ x\r\n+ \xA0\n+ a\tb\x1b[8m\x7f\n\u009B1m",
         "[1|]\n+x\n+\xA0\n+a\tb\uFFFD[8m\uFFFD\n*\uFFFD1m\n"},
        {"intro\r\n## 2.0 | 2025-04-01\r\n+ added\r\n// note\r\n\r\n- removed\r\n## 1.9\r\n"
         "## 1.8 | 2025-02-01\r\nfixed\r\n",
         "[2.0|2025-04-01]\n+added\n-removed\n[1.9|]\n[1.8|2025-02-01]\n*fixed\n"},
    };
    for (const auto& [text, blocks] : rows) {
        EXPECT_EQ(shown(parseChangelog(text)), blocks) << text;
    }
}

} // namespace
