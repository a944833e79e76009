#include "formats/Text.h"

#include <cstddef>

namespace {

// One decoded character; length 0 marks bytes that are not well-formed UTF-8.
struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;
};

CodePoint decodeFirst(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    // The first continuation byte's range excludes overlongs (E0, F0), surrogates (ED) and
    // code points past U+10FFFF (F4).
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return {};
    }
    if (text.size() < length) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(i) < low || byte(i) > high) {
            return {};
        }
        low = 0x80;
        high = 0xBF;
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    return {value, length};
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// Decodes the character that ends the text. Only a well-formed sequence that reaches exactly
// to the end counts, so a stray continuation byte never passes for part of a space.
CodePoint decodeLast(std::string_view text) {
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && isContinuation(text[start])) {
        --start;
    }
    const CodePoint last = decodeFirst(text.substr(start));
    return last.length == text.size() - start ? last : CodePoint{};
}

bool isWhitespace(char32_t c) {
    return c == U'\t' || c == U' ' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isWhitespaceOrNewline(char32_t c) {
    return isWhitespace(c) || (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 ||
           c == 0x2029;
}

bool isControl(char32_t c) {
    return (c < 0x20 && c != U'\t') || (c >= 0x7F && c <= 0x9F);
}

template <typename Predicate> std::string_view trim(std::string_view text, Predicate inClass) {
    while (!text.empty()) {
        const CodePoint first = decodeFirst(text);
        if (first.length == 0 || !inClass(first.value)) {
            break;
        }
        text.remove_prefix(first.length);
    }
    while (!text.empty()) {
        const CodePoint last = decodeLast(text);
        if (last.length == 0 || !inClass(last.value)) {
            break;
        }
        text.remove_suffix(last.length);
    }
    return text;
}

} // namespace

namespace Text {

bool isValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const CodePoint next = decodeFirst(bytes);
        if (next.length == 0) {
            return false;
        }
        bytes.remove_prefix(next.length);
    }
    return true;
}

std::string_view trimWhitespace(std::string_view text) {
    return trim(text, isWhitespace);
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    return trim(text, isWhitespaceOrNewline);
}

std::string_view cutToBytes(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    while (limit > 0 && isContinuation(text[limit])) {
        --limit;
    }
    return text.substr(0, limit);
}

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    return text.starts_with(mark) ? text.substr(mark.size()) : text;
}

bool hasControlCharacter(std::string_view text) {
    while (!text.empty()) {
        const CodePoint next = decodeFirst(text);
        if (next.length != 0 && isControl(next.value)) {
            return true;
        }
        text.remove_prefix(next.length == 0 ? 1 : next.length);
    }
    return false;
}

void appendWithoutControlCharacters(std::string& out, std::string_view text) {
    std::size_t clean = 0; // bytes since the last control character, appended in one go
    std::size_t at = 0;
    while (at < text.size()) {
        const CodePoint next = decodeFirst(text.substr(at));
        if (next.length != 0 && isControl(next.value)) {
            out.append(text.substr(at - clean, clean)).append("\uFFFD");
            clean = 0;
        } else {
            clean += next.length == 0 ? 1 : next.length;
        }
        at += next.length == 0 ? 1 : next.length;
    }
    out.append(text.substr(at - clean, clean));
}

std::optional<std::string_view> LineReader::next() {
    if (done_) {
        return std::nullopt;
    }
    const std::size_t end = rest_.find('\n');
    const std::string_view line = rest_.substr(0, end);
    if (end == std::string_view::npos) {
        done_ = true;
    } else {
        rest_.remove_prefix(end + 1);
    }
    return line;
}

} // namespace Text
