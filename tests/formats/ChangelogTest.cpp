#include "formats/Changelog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The blocks as "[version|date]" and "<kind><text>" lines.
std::string shown(const Changelog& changelog) {
    std::string text;
    for (const ChangelogEntry& entry : changelog) {
        text.append("[").append(entry.version).append("|").append(entry.date).append("]\n");
        for (const ChangelogLine line : entry.lines) {
            text.append(1, line.kind).append(line.text).append("\n");
        }
    }
    return text;
}

TEST(Changelog, ReadsHeadersAndTheKindOfEachLine) {
    const std::pair<std::string, std::string> rows[] = {
        // No header, no block: comments, blanks and lines before the first header go.
        {"// a\n  //## 2.0\n+ a\nplain\n# Notes\n\r\n\u2028", ""},
        {"\xEF\xBB\xBF## 1.0 | 2025-03-02", "[1.0|2025-03-02]\n"},
        {"##1.4.0", "[1.4.0|]\n"},
        {"## 1.4.0 | beta | 2025-03-02", "[1.4.0|beta | 2025-03-02]\n"},
        {"## | 2025-03-02\n## 1.0 |\n##", "[|2025-03-02]\n[1.0|]\n[|]\n"},
        {"### 1.4.0\n \t## 1.0 // no comment", "[# 1.4.0|]\n[1.0 // no comment|]\n"},
        {"##\u00A01.0\u3000|\u2002today", "[1.0|today]\n"},
        {"## \xFF|\xC2", "[\xFF|\xC2]\n"},
        {"## 1.1\r\x1b[2KPASS | \x07today", "[1.1\uFFFD\uFFFD[2KPASS|\uFFFDtoday]\n"},
        {"## 1\n   + New route\n-Old menu\n*\n+  a   b  \n**x",
         "[1|]\n+New route\n-Old menu\n*\n+a   b\n**x\n"},
        {"## 1\nBalance\n\u2022 pass\na // b\n\xFF",
         "[1|]\n*Balance\n*\u2022 pass\n*a // b\n*\xFF\n"},
        {"## 1\n\t+ x\r\n+ \xA0\n+ a\tb\x1b[8m\x7f\n\u009B1m",
         "[1|]\n+x\n+\xA0\n+a\tb\uFFFD[8m\uFFFD\n*\uFFFD1m\n"},
    };
    for (const auto& [text, blocks] : rows) {
        EXPECT_EQ(shown(parseChangelog(text)), blocks) << text;
    }
}

TEST(Changelog, KeepsBlocksAndLinesInFileOrderWhateverTheLineEnds) {
    const std::string text = "intro dropped\n## 2.0 | 2025-04-01\n+ added\n// note\n\n- removed\n"
                             "## 1.9\n## 1.8 | 2025-02-01\nfixed\n";
    const Changelog changelog = parseChangelog(text);
    EXPECT_EQ(shown(changelog), "[2.0|2025-04-01]\n+added\n-removed\n[1.9|]\n[1.8|2025-02-01]\n"
                                "*fixed\n");
    EXPECT_EQ(changelog.size(), 3u);
    EXPECT_EQ(changelog.front().lines.size(), 2u);
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const std::string& variant : {text.substr(0, text.size() - 1), text + "\n\n", crlf}) {
        EXPECT_EQ(parseChangelog(variant), changelog) << variant;
    }
}

} // namespace
