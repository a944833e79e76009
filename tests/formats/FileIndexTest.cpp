#include "formats/FileIndex.h"

#include <gtest/gtest.h>

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

// The line a refusal names, 0 when the text is accepted.
std::size_t refusedAt(const std::string& text) {
    try {
        FileIndex::parse(text);
    } catch (const FileIndexError& error) {
        return error.line();
    }
    return 0;
}

TEST(FileIndex, RefusesAnyLineItCannotReadExactly) {
    const std::string head = "ashenmarch-index 1\n", good = "file 0644 1 " + hash + " 0+9 - a\n";
    EXPECT_EQ(refusedAt(""), 1u);
    EXPECT_EQ(refusedAt("ashenmarch-index 2\n" + good), 1u);
    EXPECT_EQ(refusedAt(head + good + good), 3u);
    // A good line with one field spoilt; '#' stands for a good hash, 'A' makes it upper case.
    for (std::string line :
         {"file 0644 1 # 0+9 -", "fifo 0644 1 # 0+9 - a", "file 644 1 # 0+9 - a",
          "file 1755 1 # 0+9 - a", "folder 0755 1 - 0+9 - a", "file 0644 1 A 0+9 - a",
          "file 0644 1 # 0-9 - a", "file 0644 1 # 9223372036854775807+1 - a",
          "file 0644 1 # 0+9 17.5 a", "file 0644 1 # 0+9 - a/../b", "file 0644 1 # 0+9 - a\tb"}) {
        const std::size_t at = line.find_first_of("#A");
        if (at != std::string::npos) {
            line.replace(at, 1, std::string(64, line[at] == '#' ? 'a' : 'A'));
        }
        EXPECT_EQ(refusedAt(head + line + "\n"), 2u) << line;
    }
}

} // namespace
