// Feeds arbitrary text to the changelog parser, which reads whatever the release host serves.
// Beyond "never throws, never crashes" (an escaping exception aborts the run):
// - every line's kind is '+', '-' or '*', the three the window knows how to draw;
// - the blocks written back as "## version | date" headers and "<kind> text" lines parse to
//   the same blocks, so the parser keeps nothing it could not have read;
// - CR LF line ends read exactly like LF ones.
#include "FuzzSupport.h"
#include "formats/Changelog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

bool knownKind(const ChangelogLine& line) {
    return line.kind == '+' || line.kind == '-' || line.kind == '*';
}

// The bar is written even without a date: a version may end in a line-end character such as
// U+2028, which a header ending right there would lose to the line trim.
std::string changelogText(const std::vector<ChangelogEntry>& entries) {
    std::string text;
    for (const ChangelogEntry& entry : entries) {
        text += "## " + entry.version + " | " + entry.date + "\n";
        for (const ChangelogLine& line : entry.lines) {
            text += std::string(1, line.kind) + " " + line.text + "\n";
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = textOf(data, size);
    const std::vector<ChangelogEntry> entries = parseChangelog(text);

    for (const ChangelogEntry& entry : entries) {
        require(std::all_of(entry.lines.begin(), entry.lines.end(), knownKind),
                "every changelog line's kind is '+', '-' or '*'");
    }
    require(parseChangelog(changelogText(entries)) == entries,
            "changelog blocks written back parse to the same blocks");
    require(parseChangelog(withCrLf(text)) == entries, "CR LF line ends read like LF");
    return 0;
}
