#pragma once

#include "core/transfer/Transfer.h"
#include "core/trust/ReleaseSignature.h"
#include "formats/Manifest.h"

#include <filesystem>
#include <functional>
#include <string>

// The release host's side of a run (see ReleaseRun): what a release must pass before it is
// trusted or written to disk. The fetches block the calling thread and throw Error; any thread.
namespace Core {

// Where the manifest's detached signature is published: latest.txt.sig beside latest.txt.
std::string signatureAddress(const std::string& manifestAddress);

// Fetches latest.txt and returns it parsed. When `keys` are required, latest.txt.sig is fetched
// as well and must verify over the manifest's exact bytes before they are parsed, and the
// signed manifest must carry macsha256; otherwise "am" 10 "release signature is not valid".
// Without keys no signature is requested. Transfer errors are those of Transfer::fetch.
Manifest fetchRelease(const std::string& manifestAddress, const Transfer::TransferOptions& options,
                      const Trust::ReleaseKeys& keys);

// Whether the manifest's url parses as an address. Whether a transfer may use it (its scheme,
// https) is the download's to say ("am" 7).
bool hasArchiveAddress(const Manifest& manifest);

// Downloads the manifest's archive to `archive`. When the manifest announces a size, the
// archive's volume must have that much free first ("am" 9, nothing requested otherwise). The
// body is checked against macsha256 and macsize while it is written (see Transfer::DownloadCheck).
// `progress` runs on the calling thread. Errors are those of syncDownload.
void downloadRelease(const Manifest& manifest, const std::filesystem::path& archive,
                     const std::function<void(double)>& progress,
                     const Transfer::TransferOptions& options);

} // namespace Core
