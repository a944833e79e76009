#pragma once

#include "publish/PublishedIndex.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

// Turns a build archive into the files the release host serves at its root: latest.txt and,
// when signing, latest.txt.sig. Blocking file I/O.
namespace Publish {

struct ReleaseRequest {
    std::filesystem::path zip;
    std::string version;
    std::string url;           // where the archive will be served
    std::filesystem::path out; // the folder receiving latest.txt (created when missing)
    std::string exe = "Ashenmarch.app";
    std::string notes;                        // one line; no "notes" line when empty
    std::optional<std::filesystem::path> key; // private key file; no signature without one
};

// Refuses values the launcher could not use: throws std::invalid_argument for an empty version
// or address, an address that is not http(s), a line break in any value (it would end the
// manifest line early), or a bundle name with "/" or "\", or "." / "..".
void checkReleaseRequest(const ReleaseRequest& request);

// The manifest's exact text: version, macurl, macsize, macexe, macsha256, macindex,
// macindexsha256, notes, one key=value line each, LF line ends.
std::string manifestText(const ReleaseRequest& request, std::uint64_t zipSize,
                         const std::string& zipSha256, const PublishedIndex& index);

// Checks the request and that the zip holds <exe>/Contents/MacOS/ASHENMARCH as a file, then
// writes the archive's file index as <out>/<archive name>.index (see publishedIndex, which
// refuses archives the launcher would not unpack), <out>/latest.txt and, with a key,
// <out>/latest.txt.sig over its exact bytes (each replaced atomically). Without a key an old
// latest.txt.sig is removed, since it could only mismatch. Reports what it wrote to `log`. Throws
// std::invalid_argument as checkReleaseRequest, std::runtime_error for an archive that is
// unreadable or lacks the game, and Error for file-system failures; nothing is written before those
// checks pass.
void publishRelease(const ReleaseRequest& request, std::ostream& log);

} // namespace Publish
