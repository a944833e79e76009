#include "formats/FileIndex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string hash(64, 'a');

TEST(FileIndex, WritesTheDocumentedLinesAndReadsThemBack) {
    const FileIndex index{{
        {"G", IndexKind::Folder, 0755, 0, "", {0, 40}, {}},
        {"G/My Maps/a=b", IndexKind::File, 0644, 12, hash, {40, 90}, 1'700'000'000'000'000'042},
        {"G/current", IndexKind::Link, 0777, 5, hash, {130, 75}, {}},
    }};
    const std::string text = "ashenmarch-index 1\nfolder 0755 0 - 0+40 - G\nfile 0644 12 " + hash +
                             " 40+90 1700000000.000000042 G/My Maps/a=b\nlink 0777 5 " + hash +
                             " 130+75 - G/current\n";
    EXPECT_EQ(index.serialize(), text);
    EXPECT_EQ(FileIndex::parse(text), index);
    EXPECT_EQ(FileIndex::parse(text.substr(0, 18) + "\r\n" + text.substr(19, text.size() - 20)),
              index)
        << "CR LF, no final line end";
}

TEST(FileIndex, RefusesAnyLineItCannotReadExactly) {
    const std::string head = "ashenmarch-index 1\n", good = "file 0644 1 " + hash + " 0+9 - a\n";
    const std::pair<std::string, std::size_t> rows[] = {
        {"", 1},
        {"ashenmarch-index 2\n" + good, 1},
        {head + good + good, 3},
        {head + "file 0644 1 " + hash + " 0+9 -\n", 2},
        {head + "fifo 0644 1 " + hash + " 0+9 - a\n", 2},
        {head + "file 644 1 " + hash + " 0+9 - a\n", 2},
        {head + "file 1755 1 " + hash + " 0+9 - a\n", 2},
        {head + "folder 0755 1 - 0+9 - a\n", 2},
        {head + "file 0644 1 " + std::string(64, 'A') + " 0+9 - a\n", 2},
        {head + "file 0644 1 " + hash + " 0-9 - a\n", 2},
        {head + "file 0644 1 " + hash + " 9223372036854775807+1 - a\n", 2},
        {head + "file 0644 1 " + hash + " 0+9 17.5 a\n", 2},
        {head + "file 0644 1 " + hash + " 0+9 - a/../b\n", 2},
        {head + "file 0644 1 " + hash + " 0+9 - a\tb\n", 2},
    };
    for (const auto& [text, line] : rows) {
        try {
            FileIndex::parse(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const FileIndexError& error) {
            EXPECT_EQ(error.line(), line) << text << error.what();
        }
    }
}

} // namespace
