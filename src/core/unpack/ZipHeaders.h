#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Core::Unpack {

// What a zip archive's headers say about one entry, read without unpacking anything.
struct ZipEntryHeader {
    std::string path;         // as stored, "/"-separated
    std::int64_t size = 0;    // declared unpacked size in bytes; 0 when the header gives none
    bool regularFile = false; // false for folders, links and anything else
};

// The entries of a zip archive in stored order, from the headers only (data is skipped, not
// decompressed). Blocks on file reads. Throws "am" 2 "ditto failed with status 1" with
// libarchive's reason as detail when the file is missing, not a zip, or damaged (an unreadable
// central directory included): the same error unpacking it would give.
std::vector<ZipEntryHeader> readZipHeaders(const std::filesystem::path& zip);

} // namespace Core::Unpack
