#pragma once

#include "formats/ReleaseTime.h"
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
    std::optional<std::filesystem::path> key; // private key file; without one, unsignedRelease
    bool unsignedRelease = false;             // publishing without a signature is meant
    bool allowDowngrade = false;              // the version may repeat or go below the last one
    ReleaseTime released;                     // the moment of publication, as "released"
};

// Refuses values the launcher could not use: throws std::invalid_argument for an empty version
// or address, an address that is not http(s), a control character in any value (a line break
// would end the manifest line early, and launchers skip a line holding any other), a bundle
// name with "/" or "\", or "." / "..", and a key together with unsignedRelease.
void checkReleaseRequest(const ReleaseRequest& request);

// The manifest's exact text: version, macurl, macsize, macexe, macsha256, macindex,
// macindexsha256, released, notes, one key=value line each, LF line ends.
std::string manifestText(const ReleaseRequest& request, std::uint64_t zipSize,
                         const std::string& zipSha256, const PublishedIndex& index);

// Checks the request, then refuses with std::runtime_error, before signing or writing anything,
// what launchers would refuse or could not start:
// - no key without unsignedRelease;
// - an archive the launcher would not unpack, or without the bundle or its executable
//   (requireLaunchableArchive);
// - unless allowDowngrade, a version that is not above the one in <out>/latest.txt as dotted
//   numbers (compareVersions), or cannot be ordered against it;
// - a `released` before the one in <out>/latest.txt: launchers that took that release refuse
//   an older one, so a clock that is behind must be set right first.
// Then writes the archive's file index as <out>/<archive name>.index (see publishedIndex,
// which refuses archives the launcher would not unpack), <out>/latest.txt and, with a key,
// <out>/latest.txt.sig over its exact bytes (each replaced atomically). An unsigned release removes
// an old latest.txt.sig, which could only mismatch, and says so. Reports what it did to `log`.
// Throws std::invalid_argument as checkReleaseRequest and Error for file-system failures.
void publishRelease(const ReleaseRequest& request, std::ostream& log);

} // namespace Publish
