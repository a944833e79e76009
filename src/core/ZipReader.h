#pragma once

#include "core/ArchiveHandle.h"

#include <filesystem>

// Opens zip archives for unpacking; every other format libarchive knows would only add attack
// surface. Failures are the unpacking error ("am" 2) with "cannot read archive …" as detail.
namespace Unpack {

// Seekable: read through the central directory, so a reader can pass over entries without
// inflating them and several readers can share out one archive. Sequential: front to back only,
// for archives whose central directory cannot be read (a truncated download, say), so their
// entries still fail with their own names.
enum class ZipAccess { Seekable, Sequential };

struct OpenedZip {
    Archive::Reader reader;
    ZipAccess access;
};

// Opens seekable when the archive allows it, sequential otherwise.
OpenedZip openZip(const std::filesystem::path& zip);

// Opens the archive again the way an earlier openZip did, for another reader.
Archive::Reader openZip(const std::filesystem::path& zip, ZipAccess access);

} // namespace Unpack
