#include "support/PatchRelease.h"

#include "core/trust/Sha256.h"
#include "core/unpack/ArchiveIndex.h"
#include "support/TempDir.h"

#include <stdexcept>

PatchRelease::PatchRelease(LoopbackServer& server, const std::string& version,
                           const ZipBuilder& build, const std::string& extraManifest) {
    const TempDir dir;
    build.writeTo(dir / "build.zip");
    archive = readFile(dir / "build.zip");
    index = Core::Unpack::indexArchive(dir / "build.zip");
    indexText = index.serialize();
    manifest = "version=" + version + "\nmacurl=" + server.url("/build.zip") +
               "\nmacsize=" + std::to_string(archive.size()) +
               "\nmacindex=" + server.url("/build.zip.index") +
               "\nmacindexsha256=" + sha256Of(indexText) + "\n" + extraManifest;
    server.serveFile("/build.zip", {{.body = archive}});
    server.serve("/build.zip.index", indexText);
    server.serve("/latest.txt", manifest);
    server.serve("/changelog.txt", "## " + version + "\n");
}

const IndexEntry& PatchRelease::entry(const std::string& path) const {
    for (const IndexEntry& entry : index.entries) {
        if (entry.path == path) {
            return entry;
        }
    }
    throw std::out_of_range(path);
}

std::string sha256Of(std::string_view bytes) {
    Core::Trust::Sha256 hash;
    hash.update(bytes);
    return hash.hexDigest();
}

std::string noise(std::size_t length, std::uint32_t seed) {
    std::string bytes;
    bytes.reserve(length);
    for (std::uint32_t state = seed; bytes.size() < length;) {
        state = state * 1103515245 + 12345;
        bytes += static_cast<char>(state >> 24);
    }
    return bytes;
}
