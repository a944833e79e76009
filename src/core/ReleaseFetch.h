#pragma once

#include "core/transfer/FileDownloader.h"
#include "core/transfer/Transfer.h"
#include "core/trust/ReleaseSignature.h"
#include "formats/Manifest.h"

#include <filesystem>
#include <string>

// The release's two transfers as the run makes them: what a manifest must pass before it is
// trusted, and what bounds the archive before it is written to disk. Every call blocks the
// calling thread and throws Error; any thread.
namespace Core {

// Fetches latest.txt and returns it parsed. When `keys` are required, latest.txt.sig is fetched
// as well and must verify over the manifest's exact bytes before they are parsed, and the
// signed manifest must carry macsha256; otherwise "am" 10 "release signature is not valid",
// whose detail names the file's address and status when the host answered either request with
// an HTTP error. Without keys no signature is requested, and the manifest is whatever body the
// host sent. Transfer errors are those of Transfer::fetch.
Manifest fetchRelease(const std::string& manifestAddress, const Transfer::TransferOptions& options,
                      const Trust::ReleaseKeys& keys);

// Downloads the manifest's archive to `archive`. When the manifest announces a size, the
// archive's volume must have room for it and the download's reserve first, counting a partial
// download left at `archive` as room ("am" 9, nothing requested otherwise). The body is checked
// against macsha256 while it is written, and against macsize only when `keys` are required,
// for only a signed size is a fact (see Transfer::DownloadCheck); every download is bounded by
// the disk's reserve. `progress` (bytes held, whole length or 0) runs on the download's thread.
// Errors are those of syncDownload.
void downloadRelease(const Manifest& manifest, const std::filesystem::path& archive,
                     const Transfer::ByteProgress& progress,
                     const Transfer::TransferOptions& options, const Trust::ReleaseKeys& keys);

} // namespace Core
