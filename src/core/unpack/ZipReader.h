#pragma once

#include "core/unpack/ArchiveHandle.h"

#include <archive.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

// Opens zip archives for unpacking; every other format libarchive knows would only add attack
// surface. Failures are the unpacking error ("am" 2) with "cannot read archive …" as detail.
namespace Core::Unpack {

// Opens the archive through its central directory, so a reader can pass over entries without
// inflating them and several readers can share out one archive. An archive whose central
// directory cannot be read (a download cut short, say) is refused: only the central directory
// records the entries' Unix modes, and a build without them cannot start.
Unpack::Archive::Reader openZip(const std::filesystem::path& zip);

// Hands the current entry's data to `sink` block by block (bytes, size, offset in the file) to
// its end, where the checksum is checked. Any failure, a warning included, is the unpacking
// error naming the entry.
using BlockSink = std::function<void(const void* bytes, std::size_t size, la_int64_t offset)>;
void readData(archive* reader, const std::string& entryName, const BlockSink& sink);

} // namespace Core::Unpack
