// Feeds arbitrary text to the changelog parser, which reads whatever the release host serves.
// Beyond "never throws, never crashes" (an escaping exception aborts the run):
// - every line's kind is '+', '-' or '*', the three the window draws, and no kept text holds a
//   control character other than tab;
// - the blocks written back as "## version | date" headers and "<kind> text" lines parse to
//   the same blocks, so the parser keeps nothing it could not have read.
#include "FuzzSupport.h"
#include "formats/Changelog.h"
#include "formats/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = textOf(data, size);
    const Changelog entries = parseChangelog(text);
    std::string written;
    for (const ChangelogEntry& entry : entries) {
        require(!Text::hasControlCharacter(entry.version) && !Text::hasControlCharacter(entry.date),
                "versions and dates hold no control character");
        // The bar even without a date: a version may end in a line-end character such as
        // U+2028, which a header ending right there would lose to the line trim.
        written.append("## ").append(entry.version).append(" | ").append(entry.date).append("\n");
        for (const ChangelogLine line : entry.lines) {
            require(std::string_view("+-*").find(line.kind) != std::string_view::npos &&
                        !Text::hasControlCharacter(line.text),
                    "every changelog line's kind is '+', '-' or '*' and its text plain");
            written.append(1, line.kind).append(" ").append(line.text).append("\n");
        }
    }
    require(parseChangelog(written) == entries,
            "changelog blocks written back parse to the same blocks");
    return 0;
}
