#include "formats/Changelog.h"

#include "formats/Text.h"

namespace {

// The text after "##": version before the first "|", date after it; a later "|" stays in the
// date.
ChangelogEntry parseHeader(std::string_view header) {
    header = Text::trimWhitespace(header);
    const std::size_t bar = header.find('|');
    if (bar == std::string_view::npos) {
        return {std::string(header), {}, {}};
    }
    return {std::string(Text::trimWhitespace(header.substr(0, bar))),
            std::string(Text::trimWhitespace(header.substr(bar + 1))),
            {}};
}

ChangelogLine parseBodyLine(std::string_view line) {
    const char first = line.front();
    if (first == '+' || first == '-' || first == '*') {
        return {first, std::string(Text::trimWhitespace(line.substr(1)))};
    }
    return {'*', std::string(line)};
}

} // namespace

std::vector<ChangelogEntry> parseChangelog(std::string_view text) {
    std::vector<ChangelogEntry> entries;
    for (std::string_view line : Text::splitLines(text)) {
        line = Text::trimWhitespaceAndNewlines(line);
        if (line.empty() || line.starts_with("//")) {
            continue;
        }
        if (line.starts_with("##")) {
            entries.push_back(parseHeader(line.substr(2)));
        } else if (!entries.empty()) {
            entries.back().lines.push_back(parseBodyLine(line));
        }
    }
    return entries;
}
