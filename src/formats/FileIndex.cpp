#include "formats/FileIndex.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <limits>
#include <unordered_set>

namespace {

constexpr std::string_view VersionLine = "ashenmarch-index 1";
constexpr std::string_view VersionPrefix = "ashenmarch-index ";
constexpr std::int64_t NanosecondsPerSecond = 1'000'000'000;
constexpr std::size_t FieldsBeforePath = 6;

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Plain decimal digits that fit; no sign, no blanks.
std::optional<std::int64_t> number(std::string_view text) {
    std::int64_t value = 0;
    if (!isDigits(text)) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<IndexKind> kind(std::string_view text) {
    if (text == "file") {
        return IndexKind::File;
    }
    if (text == "folder") {
        return IndexKind::Folder;
    }
    if (text == "link") {
        return IndexKind::Link;
    }
    return std::nullopt;
}

std::string_view kindName(IndexKind kind) {
    switch (kind) {
    case IndexKind::Folder:
        return "folder";
    case IndexKind::Link:
        return "link";
    case IndexKind::File:
        break;
    }
    return "file";
}

std::optional<unsigned> mode(std::string_view text) {
    unsigned value = 0;
    if (text.size() != 4 ||
        std::from_chars(text.data(), text.data() + 4, value, 8).ptr != text.data() + 4 ||
        value > 0777) {
        return std::nullopt;
    }
    return value;
}

bool isSha256(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::optional<ByteSpan> span(std::string_view text) {
    const std::size_t plus = text.find('+');
    if (plus == std::string_view::npos) {
        return std::nullopt;
    }
    const auto offset = number(text.substr(0, plus));
    const auto length = number(text.substr(plus + 1));
    if (!offset || !length || *length == 0 ||
        *length > std::numeric_limits<std::int64_t>::max() - *offset) {
        return std::nullopt;
    }
    return ByteSpan{*offset, *length};
}

// "-" is no stamp (the outer nullopt means the text is malformed).
std::optional<std::optional<std::int64_t>> stamp(std::string_view text) {
    if (text == "-") {
        return std::optional<std::int64_t>();
    }
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos || text.size() - dot - 1 != 9) {
        return std::nullopt;
    }
    const auto seconds = number(text.substr(0, dot));
    const auto nanoseconds = number(text.substr(dot + 1));
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max() / NanosecondsPerSecond;
    if (!seconds || !nanoseconds || *seconds >= most) {
        return std::nullopt;
    }
    return std::optional<std::int64_t>(*seconds * NanosecondsPerSecond + *nanoseconds);
}

bool isCleanPath(std::string_view path) {
    if (path.empty() || std::any_of(path.begin(), path.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte < 0x20 || byte == 0x7f;
        })) {
        return false;
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view name = path.substr(start, slash - start);
        if (name.empty() || name == "." || name == "..") {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

// The fields of an entry line: six separated by single spaces, then the path, which may hold
// spaces of its own.
std::optional<std::array<std::string_view, FieldsBeforePath + 1>> fields(std::string_view line) {
    std::array<std::string_view, FieldsBeforePath + 1> parts;
    for (std::size_t i = 0; i < FieldsBeforePath; ++i) {
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) {
            return std::nullopt;
        }
        parts[i] = line.substr(0, space);
        line.remove_prefix(space + 1);
    }
    parts[FieldsBeforePath] = line;
    return parts;
}

IndexEntry parseEntry(std::string_view line, std::size_t number) {
    const auto fail = [number](const std::string& reason) {
        return FileIndexError(number, reason);
    };
    const auto parts = fields(line);
    if (!parts) {
        throw fail("expected kind, mode, size, sha256, span, stamp and path");
    }
    const auto [kindText, modeText, sizeText, hashText, spanText, stampText, path] = *parts;
    IndexEntry entry;
    entry.path = path;
    const auto parsedKind = kind(kindText);
    const auto parsedMode = mode(modeText);
    const auto parsedSize = ::number(sizeText);
    const auto parsedSpan = span(spanText);
    const auto parsedStamp = stamp(stampText);
    if (!parsedKind) {
        throw fail("unknown kind \"" + std::string(kindText) + "\"");
    }
    entry.kind = *parsedKind;
    const bool folder = entry.kind == IndexKind::Folder;
    if (!parsedMode) {
        throw fail("mode is not four octal digits up to 0777");
    }
    if (!parsedSize || (folder && *parsedSize != 0)) {
        throw fail("size is not a decimal number (0 for a folder)");
    }
    if (folder ? hashText != "-" : !isSha256(hashText)) {
        throw fail("sha256 is not 64 lower-case hex digits (\"-\" for a folder)");
    }
    if (!parsedSpan) {
        throw fail("span is not <offset>+<length>");
    }
    if (!parsedStamp) {
        throw fail("stamp is not \"-\" or <seconds>.<nanoseconds>");
    }
    if (!isCleanPath(path)) {
        throw fail("path is empty, absolute, or holds an empty, \".\" or \"..\" name or a "
                   "control character");
    }
    entry.mode = *parsedMode;
    entry.size = *parsedSize;
    entry.sha256 = folder ? "" : std::string(hashText);
    entry.span = *parsedSpan;
    entry.stamp = *parsedStamp;
    return entry;
}

std::string stampText(const std::optional<std::int64_t>& stamp) {
    if (!stamp) {
        return "-";
    }
    std::array<char, 16> fraction{};
    std::snprintf(fraction.data(), fraction.size(), ".%09lld",
                  static_cast<long long>(*stamp % NanosecondsPerSecond));
    return std::to_string(*stamp / NanosecondsPerSecond) + fraction.data();
}

} // namespace

FileIndexError::FileIndexError(std::size_t line, const std::string& reason)
    : std::runtime_error("line " + std::to_string(line) + ": " + reason), line_(line) {}

FileIndex FileIndex::parse(std::string_view text) {
    FileIndex index;
    std::unordered_set<std::string_view> paths;
    std::size_t number = 0;
    while (!text.empty() || number == 0) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (number == 1) {
            if (line != VersionLine) {
                throw FileIndexError(1, line.starts_with(VersionPrefix)
                                            ? "unsupported index version"
                                            : "not a file index");
            }
            continue;
        }
        index.entries.push_back(parseEntry(line, number));
    }
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
        if (!paths.insert(index.entries[i].path).second) {
            throw FileIndexError(i + 2, "path listed twice");
        }
    }
    return index;
}

std::string FileIndex::serialize() const {
    std::string text(VersionLine);
    text += '\n';
    for (const IndexEntry& entry : entries) {
        std::array<char, 8> mode{};
        std::snprintf(mode.data(), mode.size(), "%04o", entry.mode);
        text.append(kindName(entry.kind)).append(" ").append(mode.data()).append(" ");
        text.append(std::to_string(entry.size)).append(" ");
        text.append(entry.kind == IndexKind::Folder ? "-" : entry.sha256).append(" ");
        text.append(std::to_string(entry.span.offset)).append("+");
        text.append(std::to_string(entry.span.length)).append(" ");
        text.append(stampText(entry.stamp)).append(" ").append(entry.path).append("\n");
    }
    return text;
}
