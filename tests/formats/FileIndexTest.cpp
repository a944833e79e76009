#include "formats/FileIndex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string hash(64, 'a');

TEST(FileIndex, WritesTheDocumentedLinesAndReadsThemBack) {
    const FileIndex index{{
        {"Game.app", IndexKind::Folder, 0755, 0, "", {0, 40}, {}},
        {"Game.app/My Maps/a=b.txt",
         IndexKind::File,
         0644,
         12,
         hash,
         {40, 90},
         1'700'000'000'000'000'042},
        {"Game.app/current", IndexKind::Link, 0777, 5, hash, {130, 75}, {}},
    }};
    const std::string text = "ashenmarch-index 1\n"
                             "folder 0755 0 - 0+40 - Game.app\n"
                             "file 0644 12 " +
                             hash +
                             " 40+90 1700000000.000000042 Game.app/My Maps/a=b.txt\n"
                             "link 0777 5 " +
                             hash + " 130+75 - Game.app/current\n";
    EXPECT_EQ(index.serialize(), text);
    EXPECT_EQ(FileIndex::parse(text), index);
    std::string crlf;
    for (const char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(FileIndex::parse(crlf), index);
    EXPECT_EQ(FileIndex::parse(text.substr(0, text.size() - 1)), index) << "no final line end";
}

TEST(FileIndex, RefusesAnyLineItCannotReadExactly) {
    const std::string head = "ashenmarch-index 1\n";
    const std::string good = "file 0644 1 " + hash + " 0+9 - a\n";
    const auto line = [&](const std::string& fields) {
        return head + fields + "\n";
    };
    const struct {
        std::string text;
        std::size_t line;
    } cases[] = {
        {"", 1},
        {"version=1\n", 1},
        {"ashenmarch-index 2\n" + good, 1},
        {line("file 0644 1 " + hash + " 0+9 -"), 2}, // no path
        {line("fifo 0644 1 " + hash + " 0+9 - a"), 2},
        {line("file 644 1 " + hash + " 0+9 - a"), 2},
        {line("file 1755 1 " + hash + " 0+9 - a"), 2},
        {line("file 0644 -1 " + hash + " 0+9 - a"), 2},
        {line("folder 0755 1 - 0+9 - a"), 2},
        {line("file 0644 1 " + std::string(64, 'A') + " 0+9 - a"), 2},
        {line("file 0644 1 " + hash + " 0-9 - a"), 2},
        {line("file 0644 1 " + hash + " 9223372036854775807+1 - a"), 2},
        {line("file 0644 1 " + hash + " 0+9 17.5 a"), 2},
        {line("file 0644 1 " + hash + " 0+9 - /a"), 2},
        {line("file 0644 1 " + hash + " 0+9 - a/../b"), 2},
        {line("file 0644 1 " + hash + " 0+9 - a\tb"), 2},
        {head + good + good, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            FileIndex::parse(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const FileIndexError& error) {
            EXPECT_EQ(error.line(), c.line) << error.what();
        }
    }
}

} // namespace
