#include "formats/Manifest.h"

#include "formats/Text.h"

#include <algorithm>
#include <charconv>

namespace {

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// An optional single sign and at least one ASCII digit, fitting 64 bits; anything else is 0.
// The form is checked before from_chars, which refuses "+" and would read "+-1" as -1 once the
// "+" was stripped.
std::int64_t parseSize(std::string_view value) {
    std::string_view digits = value;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
        return 0;
    }
    // Keep the minus so that the lowest value, which has no positive counterpart, still fits.
    const std::string_view number = value.front() == '-' ? value : digits;
    std::int64_t size = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), size);
    return error == std::errc() && end == number.data() + number.size() ? size : 0;
}

void assign(Manifest& manifest, std::string_view key, std::string_view value) {
    if (key == "version") {
        manifest.version = value;
    } else if (key == "macurl") {
        manifest.url = value;
    } else if (key == "macsize") {
        manifest.size = parseSize(value);
    } else if (key == "macexe") {
        manifest.exe = value;
    } else if (key == "notes") {
        manifest.notes = value;
    } else if (key == "macsha256") {
        manifest.sha256 = value;
    } else if (key == "released") {
        manifest.released = parseReleaseTime(value);
    } else if (key == "macindex") {
        manifest.indexUrl = value;
    } else if (key == "macindexsha256") {
        manifest.indexSha256 = value;
    }
}

} // namespace

Manifest Manifest::parse(std::string_view text) {
    Manifest manifest;
    Text::LineReader lines(Text::withoutByteOrderMark(text));
    while (const std::optional<std::string_view> read = lines.next()) {
        const std::string_view line = Text::trimWhitespaceAndNewlines(*read);
        if (line.empty() || line.starts_with('#') || line.starts_with("//") ||
            Text::hasControlCharacter(line)) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        assign(manifest, Text::trimWhitespace(line.substr(0, equals)),
               Text::trimWhitespace(line.substr(equals + 1)));
    }
    return manifest;
}
