#pragma once

#include "formats/FileIndex.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A zip archive's own records, read byte by byte rather than through libarchive: where each
// entry's local record lies, so that one entry can be fetched and inflated on its own. ZIP64
// archives are read; archives split over several disks are not. Failures are the unpacking
// error ("am" 2) with the reason as detail. Blocking file reads; one thread per object.
namespace Core::Unpack {

// Flag bits and methods of the zip format that entries are read with.
constexpr std::uint16_t ZipEncrypted = 1u << 0;
constexpr std::uint16_t ZipDataDescriptor = 1u << 3;
constexpr std::uint16_t ZipStored = 0;
constexpr std::uint16_t ZipDeflated = 8;

// One entry as the central directory records it.
struct ZipDirectoryEntry {
    std::string name; // as stored
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::int64_t compressedSize = 0;
    std::int64_t size = 0;
    std::int64_t localHeaderOffset = 0;
};

// The fixed part and name of a local header, as it begins an entry's record.
struct LocalHeader {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::int64_t compressedSize = 0; // as written; 0 when a data descriptor follows the data
    std::int64_t size = 0;
    std::string name;
    // Carries a ZIP64 field, so a data descriptor after the data has 8-byte sizes.
    bool zip64 = false;
    std::size_t length = 0; // header, name and extra field: where the data begins
};

// The local header at the start of `bytes`; nothing while the bytes end before it does. Throws
// when the bytes do not start with a local header's signature.
std::optional<LocalHeader> parseLocalHeader(std::string_view bytes);

// An archive file opened for reading its records.
class ZipFile {
public:
    // Opens the file and reads its central directory.
    explicit ZipFile(const std::filesystem::path& zip);

    const std::vector<ZipDirectoryEntry>& entries() const { return entries_; }
    std::int64_t size() const { return size_; }

    // The entry's local record: its header through its compressed data and the data descriptor
    // that follows when the flags announce one. Fails when the record is malformed or runs into
    // the next one or the central directory.
    ByteSpan recordSpan(const ZipDirectoryEntry& entry) const;
    // Exactly `length` bytes from `offset`.
    std::string read(std::int64_t offset, std::size_t length) const;

private:
    std::filesystem::path path_;
    UniqueFd fd_;
    std::int64_t size_ = 0;
    std::int64_t directoryStart_ = 0;
    std::vector<ZipDirectoryEntry> entries_;
    std::vector<std::int64_t> recordStarts_; // every entry's local header offset, ascending
};

} // namespace Core::Unpack
