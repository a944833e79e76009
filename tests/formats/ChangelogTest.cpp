#include "formats/Changelog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace {

// Bytes allocated through operator new in this program: now, and the most since the last reset.
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};
constexpr std::size_t blockHeader = alignof(std::max_align_t);

} // namespace

void* operator new(std::size_t size) {
    auto* block = static_cast<char*>(std::malloc(size + blockHeader));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *reinterpret_cast<std::size_t*>(block) = size;
    const std::size_t live = liveBytes += size;
    for (std::size_t peak = peakBytes;
         live > peak && !peakBytes.compare_exchange_weak(peak, live);) {
    }
    return block + blockHeader;
}

void operator delete(void* pointer) noexcept {
    if (pointer != nullptr) {
        char* block = static_cast<char*>(pointer) - blockHeader;
        liveBytes -= *reinterpret_cast<std::size_t*>(block);
        std::free(block);
    }
}

void operator delete(void* pointer, std::size_t) noexcept {
    operator delete(pointer);
}

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

TEST(Changelog, TextWithoutHeadersGivesNoBlocks) {
    for (const char* text : {"", "\n\n \t\n", "// a\n  //## 2.0\n", "+ a\nplain\n# Notes",
                             "\r\n\u2028\u00A0\r\n", "\xEF\xBB\xBF"}) {
        EXPECT_TRUE(parseChangelog(text).empty()) << text;
    }
}

TEST(Changelog, SplitsHeadersAtTheFirstBar) {
    const std::pair<const char*, const char*> cases[] = {
        {"## 1.4.0 | 2025-03-02", "[1.4.0|2025-03-02]\n"},
        {"##1.4.0", "[1.4.0|]\n"},
        {"## 1.4.0 | beta | 2025-03-02", "[1.4.0|beta | 2025-03-02]\n"},
        {"## | 2025-03-02", "[|2025-03-02]\n"},
        {"## 1.0 |", "[1.0|]\n"},
        {"##", "[|]\n"},
        {"### 1.4.0", "[# 1.4.0|]\n"},
        {" \t## 1.0", "[1.0|]\n"},
        {"##\u00A01.0\u3000|\u2002today", "[1.0|today]\n"},
        {"## 1.0 // not a comment", "[1.0 // not a comment|]\n"},
        {"## \xFF|\xC2", "[\xFF|\xC2]\n"},
        {"\xEF\xBB\xBF## 1.0", "[1.0|]\n"},
        {"## 1.1\r\x1b[2KPASS | \x07today\u0085", "[1.1\uFFFD\uFFFD[2KPASS|\uFFFDtoday]\n"},
    };
    for (const auto& [line, blocks] : cases) {
        EXPECT_EQ(shown(parseChangelog(line)), blocks) << line;
    }
}

TEST(Changelog, TakesTheKindFromTheFirstCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"   + New salvage route", "+New salvage route"},
        {"-Old menu removed", "-Old menu removed"},
        {"*", "*"},
        {"+  a   b  ", "+a   b"},
        {"+\u00A0x\u3000", "+x"},
        {"**x", "**x"},
        {"Balance pass", "*Balance pass"},
        {"\u2022 Balance pass", "*\u2022 Balance pass"},
        {"a // b", "*a // b"},
        {"\t+ x\r", "+x"},
        {"+ \xA0", "+\xA0"},
        {"\xFF", "*\xFF"},
        {"+ a\tb\x1b[8m\x7f", "+a\tb\uFFFD[8m\uFFFD"},
        {"\u009B1m\u0085x", "*\uFFFD1m\uFFFDx"},
    };
    for (const auto& [line, shownLine] : cases) {
        EXPECT_EQ(shown(parseChangelog("## 1\n" + line)), "[1|]\n" + shownLine + "\n") << line;
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
    const std::string expected =
        "[2.0|2025-04-01]\n+added\n-removed\n[1.9|]\n[1.8|2025-02-01]\n*fixed\n";
    const Changelog changelog = parseChangelog(text);
    EXPECT_EQ(shown(changelog), expected);
    EXPECT_EQ(changelog.size(), 3u);
    EXPECT_EQ(changelog.front().lines.size(), 2u);

    std::string withoutFinalLineFeed = text;
    withoutFinalLineFeed.pop_back();
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const std::string& variant : {withoutFinalLineFeed, text + "\n\n", crlf}) {
        EXPECT_EQ(parseChangelog(variant), changelog) << variant;
    }
}

// A host may serve 4 MiB of changelog; what is kept of it stays near that size whatever its
// shape.
TEST(Changelog, HoldsTheLargestChangelogInAboutItsOwnSize) {
    constexpr std::size_t largest = 4 << 20;
    for (const std::string line : {"##\n", "+\n", "x\n"}) {
        std::string text = "## 1\n";
        while (text.size() + line.size() <= largest) {
            text += line;
        }
        const std::size_t before = liveBytes;
        peakBytes = before;
        const Changelog changelog = parseChangelog(text);
        EXPECT_LT(peakBytes - before, 2 * largest) << line;
        EXPECT_GT(changelog.size(), 0u);
    }
}

} // namespace
