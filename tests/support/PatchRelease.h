#pragma once

#include "formats/FileIndex.h"
#include "support/LoopbackServer.h"
#include "support/ZipBuilder.h"

#include <cstdint>
#include <string>

// A release as the publishing tool puts it on a host, served by a LoopbackServer: the archive
// at /build.zip (with ranges), its file index at /build.zip.index, latest.txt naming both with
// the archive's size and the index's SHA-256 (plus `extraManifest` lines), and a changelog.
struct PatchRelease {
    std::string archive;
    FileIndex index;
    std::string indexText;
    std::string manifest;

    PatchRelease(LoopbackServer& server, const std::string& version, const ZipBuilder& build,
                 const std::string& extraManifest = {});
    // The index entry at `path`; throws when there is none.
    const IndexEntry& entry(const std::string& path) const;
};

std::string sha256Of(std::string_view bytes);

// Bytes no compressor shrinks, the same for the same seed: an entry of them keeps its size in
// an archive.
std::string noise(std::size_t length, std::uint32_t seed);
