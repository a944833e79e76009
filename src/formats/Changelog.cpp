#include "formats/Changelog.h"

#include "formats/Text.h"

#include <algorithm>

namespace {

constexpr char HeaderMark = '#';

// The record at the start of `records`, without its line feed.
std::string_view firstRecord(std::string_view records) {
    return records.substr(0, records.find('\n'));
}

// The text after "##": version before the first "|", date after it; a later "|" stays in the
// date.
void appendHeader(std::string& records, std::string_view header) {
    header = Text::trimWhitespace(header);
    const std::size_t bar = header.find('|');
    records += HeaderMark;
    if (bar == std::string_view::npos) {
        Text::appendWithoutControlCharacters(records, header);
    } else {
        Text::appendWithoutControlCharacters(records, Text::trimWhitespace(header.substr(0, bar)));
        const std::string_view date = Text::trimWhitespace(header.substr(bar + 1));
        if (!date.empty()) {
            records += '|';
            Text::appendWithoutControlCharacters(records, date);
        }
    }
    records += '\n';
}

void appendBodyLine(std::string& records, std::string_view line) {
    const char first = line.front();
    if (first == '+' || first == '-' || first == '*') {
        records += first;
        Text::appendWithoutControlCharacters(records, Text::trimWhitespace(line.substr(1)));
    } else {
        records += '*';
        Text::appendWithoutControlCharacters(records, line);
    }
    records += '\n';
}

} // namespace

ChangelogLine ChangelogLines::iterator::operator*() const {
    const std::string_view record = firstRecord(rest_);
    return {record.front(), record.substr(1)};
}

ChangelogLines::iterator& ChangelogLines::iterator::operator++() {
    rest_.remove_prefix(firstRecord(rest_).size() + 1);
    return *this;
}

ChangelogLines::iterator ChangelogLines::iterator::operator++(int) {
    const iterator before = *this;
    ++*this;
    return before;
}

std::size_t ChangelogLines::size() const {
    return static_cast<std::size_t>(std::count(records_.begin(), records_.end(), '\n'));
}

Changelog::iterator::iterator(std::string_view rest) : rest_(rest), next_(rest) {
    if (rest.empty()) {
        return;
    }
    const std::string_view header = firstRecord(rest).substr(1);
    const std::size_t bar = header.find('|');
    entry_.version = header.substr(0, bar);
    entry_.date = bar == std::string_view::npos ? std::string_view() : header.substr(bar + 1);
    // The block's lines run up to the next header record.
    std::size_t end = header.size() + 2;
    const std::size_t linesStart = end;
    while (end < rest.size() && rest[end] != HeaderMark) {
        end = rest.find('\n', end) + 1;
    }
    entry_.lines = ChangelogLines(rest.substr(linesStart, end - linesStart));
    next_ = rest.substr(end);
}

Changelog::iterator Changelog::iterator::operator++(int) {
    const iterator before = *this;
    ++*this;
    return before;
}

Changelog parseChangelog(std::string_view text) {
    text = Text::withoutByteOrderMark(text);
    Changelog changelog;
    std::string& records = changelog.records_;
    // Records are at most half as long again as the lines they come from (a one-character line
    // gains its kind), so this is the only allocation unless control characters widen them. A
    // large reservation is only address space until it is written.
    records.reserve(text.size() + text.size() / 2 + 2);
    bool inBlock = false;
    Text::LineReader lines(text);
    while (const std::optional<std::string_view> read = lines.next()) {
        const std::string_view line = Text::trimWhitespaceAndNewlines(*read);
        if (line.empty() || line.starts_with("//")) {
            continue;
        }
        if (line.starts_with("##")) {
            appendHeader(records, line.substr(2));
            ++changelog.entryCount_;
            inBlock = true;
        } else if (inBlock) {
            appendBodyLine(records, line);
        }
    }
    return changelog;
}
