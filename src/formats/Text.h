#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Unicode-aware helpers over UTF-8 text shared by the parsers and the install store. Pure
// functions; the views they return point into the caller's text.
namespace Text {

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or code points past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Trims tab and the space separators (Zs) from both ends.
std::string_view trimWhitespace(std::string_view text);

// Trims white space and line ends: the above plus U+000A..U+000D, U+0085, U+2028, U+2029.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// The longest start of the text of at most `limit` bytes that does not cut a character in two.
std::string_view cutToBytes(std::string_view text, std::size_t limit);

// The text without a leading UTF-8 byte order mark, which some editors write and which would
// otherwise stick to the first line.
std::string_view withoutByteOrderMark(std::string_view text);

// True when the text holds a control character other than tab: C0, DEL or C1 (U+0080..U+009F).
// A terminal acts on these, so release text carrying one must never reach it raw. Bytes that
// are not well-formed UTF-8 are not characters and never count.
bool hasControlCharacter(std::string_view text);

// Appends the text to `out` with every control character (as above) replaced by U+FFFD.
void appendWithoutControlCharacters(std::string& out, std::string_view text);

// Hands out a text's lines one at a time, split at every line feed, without copying: a text of
// n line feeds gives n + 1 lines, the empty text one empty line. A carriage return before the
// line feed stays on the line; the trims above remove it, which is how CR LF files read as
// ordinary line-feed files.
class LineReader {
public:
    explicit LineReader(std::string_view text) : rest_(text) {}

    // The next line, without its line feed; nothing once every line was handed out.
    std::optional<std::string_view> next();

private:
    std::string_view rest_;
    bool done_ = false;
};

} // namespace Text
