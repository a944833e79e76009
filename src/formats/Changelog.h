#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

// One line of a release block: kind is always '+', '-' or '*'. The text points into the
// Changelog it was read from.
struct ChangelogLine {
    char kind = '*';
    std::string_view text;

    bool operator==(const ChangelogLine&) const = default;
};

// The lines of one release block in file order: a range of ChangelogLine values that point into
// the Changelog it was read from.
class ChangelogLines {
public:
    class iterator {
    public:
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;
        using value_type = ChangelogLine;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = ChangelogLine;

        iterator() = default;
        explicit iterator(std::string_view rest) : rest_(rest) {}
        ChangelogLine operator*() const;
        iterator& operator++();
        iterator operator++(int);
        bool operator==(const iterator& other) const { return rest_.data() == other.rest_.data(); }

    private:
        std::string_view rest_; // this line's record and the ones after it
    };

    ChangelogLines() = default;
    explicit ChangelogLines(std::string_view records) : records_(records) {}

    iterator begin() const { return iterator(records_); }
    iterator end() const { return iterator(records_.substr(records_.size())); }
    bool empty() const { return records_.empty(); }
    // Counts the lines: linear in their length.
    std::size_t size() const;

    bool operator==(const ChangelogLines&) const = default;

private:
    std::string_view records_; // "<kind><text>\n" per line
};

// One release block of changelog.txt. Its texts point into the Changelog it was read from.
struct ChangelogEntry {
    std::string_view version;
    std::string_view date;
    ChangelogLines lines;

    bool operator==(const ChangelogEntry&) const = default;
};

// A parsed changelog: its release blocks in file order. The whole of it is one packed text, one
// short record per header or line, so that the largest changelog a host may serve costs about
// its own size again. Entries and lines are handed out on the fly as views into that text: they
// stay valid while the Changelog lives unchanged. A value; moving it is cheap.
class Changelog {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = ChangelogEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = const ChangelogEntry*;
        using reference = const ChangelogEntry&;

        iterator() = default;
        explicit iterator(std::string_view rest);
        const ChangelogEntry& operator*() const { return entry_; }
        const ChangelogEntry* operator->() const { return &entry_; }
        iterator& operator++() { return *this = iterator(next_); }
        iterator operator++(int);
        bool operator==(const iterator& other) const { return rest_.data() == other.rest_.data(); }

    private:
        std::string_view rest_; // this entry's records and the ones after it
        std::string_view next_; // from the next entry's header on
        ChangelogEntry entry_;
    };

    iterator begin() const { return iterator(records_); }
    iterator end() const { return iterator(std::string_view(records_).substr(records_.size())); }
    std::size_t size() const { return entryCount_; }
    bool empty() const { return entryCount_ == 0; }
    // The first entry; the Changelog must not be empty.
    ChangelogEntry front() const { return *begin(); }

    bool operator==(const Changelog&) const = default;

private:
    friend Changelog parseChangelog(std::string_view text);

    // "#<version>" or "#<version>|<date>" per header, "<kind><text>" per line, each ended by a
    // line feed. Stored texts never hold a control character, so the line feed is always a
    // record's end, and a version never holds "|".
    std::string records_;
    std::size_t entryCount_ = 0;
};

// Parses changelog.txt into blocks in file order. Never fails: comments ("//"), empty lines and
// body lines before the first "##" header vanish. LF and CR LF line ends both work, and a
// leading byte order mark is skipped. A control character other than tab in a kept text becomes
// U+FFFD, so that nothing read from the host can steer the terminal a report goes to.
Changelog parseChangelog(std::string_view text);
