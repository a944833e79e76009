#pragma once

#include <string_view>
#include <vector>

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

// Splits at every line feed. A carriage return before it stays on the line; the trims above
// remove it, which is how CR LF files read as ordinary line-feed files.
std::vector<std::string_view> splitLines(std::string_view text);

} // namespace Text
