// Feeds arbitrary text to the changelog parser, which reads whatever the release host serves.
// Beyond "never throws, never crashes" (an escaping exception aborts the run):
// - every line's kind is '+', '-' or '*', the three the window knows how to draw, and no kept
//   text holds a control character other than tab;
// - the blocks written back as "## version | date" headers and "<kind> text" lines parse to
//   the same blocks, so the parser keeps nothing it could not have read;
// - CR LF line ends read exactly like LF ones.
#include "FuzzSupport.h"
#include "formats/Changelog.h"
#include "formats/Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool knownKindAndPlainText(const ChangelogLine& line) {
    return (line.kind == '+' || line.kind == '-' || line.kind == '*') &&
           !Text::hasControlCharacter(line.text);
}

// The bar is written even without a date: a version may end in a line-end character such as
// U+2028, which a header ending right there would lose to the line trim.
std::string changelogText(const Changelog& entries) {
    std::string text;
    for (const ChangelogEntry& entry : entries) {
        text.append("## ").append(entry.version).append(" | ").append(entry.date).append("\n");
        for (const ChangelogLine line : entry.lines) {
            text.append(1, line.kind).append(" ").append(line.text).append("\n");
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = textOf(data, size);
    const Changelog entries = parseChangelog(text);

    for (const ChangelogEntry& entry : entries) {
        require(std::all_of(entry.lines.begin(), entry.lines.end(), knownKindAndPlainText),
                "every changelog line's kind is '+', '-' or '*' and its text plain");
        require(!Text::hasControlCharacter(entry.version) && !Text::hasControlCharacter(entry.date),
                "versions and dates hold no control character");
    }
    require(parseChangelog(changelogText(entries)) == entries,
            "changelog blocks written back parse to the same blocks");
    require(parseChangelog(withCrLf(text)) == entries, "CR LF line ends read like LF");
    return 0;
}
