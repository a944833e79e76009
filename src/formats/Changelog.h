#pragma once

#include <string>
#include <string_view>
#include <vector>

// One line of a release block: kind is always '+', '-' or '*'.
struct ChangelogLine {
    char kind = '*';
    std::string text;

    bool operator==(const ChangelogLine&) const = default;
};

// One release block of changelog.txt, in file order.
struct ChangelogEntry {
    std::string version;
    std::string date;
    std::vector<ChangelogLine> lines;

    bool operator==(const ChangelogEntry&) const = default;
};

// Parses changelog.txt into blocks in file order. Never fails: comments ("//"), empty lines and
// body lines before the first "##" header vanish. LF and CR LF line ends both work.
std::vector<ChangelogEntry> parseChangelog(std::string_view text);
