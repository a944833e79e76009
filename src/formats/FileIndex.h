#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The file index of a build archive: one line per entry saying what it unpacks to and where its
// record lies in the archive, so a launcher can fetch only the entries it lacks and check an
// installed build file by file. The publishing tool writes it beside the archive; the launcher
// keeps the installed build's copy, with the time it wrote each file added.
//
//   ashenmarch-index 1
//   <kind> <mode> <size> <sha256> <offset>+<length> <stamp> <path>
//
// kind is "file", "folder" or "link"; mode four octal digits (permission bits, at most 0777);
// size the unpacked bytes in decimal (a link's target length); sha256 64 lower-case hex digits
// of the unpacked content (a link's target text), "-" for a folder; offset+length the entry's
// local record in the archive, header through compressed data and any data descriptor; stamp
// "-", or in the launcher's own copy the file's modification time as
// <seconds>.<nine digits of nanoseconds>; path the rest of the line, "/"-separated, relative,
// without empty, "." or ".." names. LF line ends (CR LF read alike).
//
// The file is pinned by its SHA-256 in the manifest, so parsing is strict: any line that does
// not read exactly so fails the whole file. Pure functions; any thread.

enum class IndexKind { File, Folder, Link };

// Bytes [offset, offset + length) of a file.
struct ByteSpan {
    std::int64_t offset = 0;
    std::int64_t length = 0;

    std::int64_t end() const { return offset + length; }
    bool operator==(const ByteSpan&) const = default;
};

struct IndexEntry {
    std::string path;
    IndexKind kind = IndexKind::File;
    unsigned mode = 0644;
    std::int64_t size = 0;
    std::string sha256; // empty for a folder
    ByteSpan span;
    // Nanoseconds since the epoch at which the launcher wrote the installed file; nothing in a
    // published index.
    std::optional<std::int64_t> stamp;

    bool operator==(const IndexEntry&) const = default;
};

// Why an index text was refused: the first bad line (1 for the version line) and the reason.
class FileIndexError : public std::runtime_error {
public:
    FileIndexError(std::size_t line, const std::string& reason);
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
};

struct FileIndex {
    std::vector<IndexEntry> entries; // in archive order

    // Throws FileIndexError for a missing or unknown version line, a malformed line, or a path
    // listed twice.
    static FileIndex parse(std::string_view text);
    // The text parse reads back to the same index; entries must hold what parse accepts.
    std::string serialize() const;

    bool operator==(const FileIndex&) const = default;
};
