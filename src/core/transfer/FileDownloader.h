#pragma once

#include "core/transfer/Transfer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace Core::Transfer {

// What the finished body must match before it is moved into place at the destination.
struct DownloadCheck {
    // Hex SHA-256 (either case) the body must have; empty means not checked. The bytes are
    // hashed as they are written, never read a second time (bytes kept from an earlier run are
    // read once when the download continues them). A mismatch fails with "am" 6 "download
    // checksum mismatch" and nothing is kept; a value that is not 64 hex digits fails the same
    // way before anything is sent.
    std::string sha256;
    // A size the body may not exceed, for a size that is a signed fact (a signed manifest's
    // macsize); 0 when there is none. A body that runs past it by more than a small margin is
    // cut off with "am" 12 "release file too large". Every download is bounded by the disk
    // anyway (see FileDownloader).
    std::int64_t declaredSize = 0;
};

// Called with the share of the body held so far (see syncDownload).
using ProgressHandler = std::function<void(double fraction)>;
// Called with the bytes held so far and the whole body's length, 0 while it is not known (see
// downloadFile).
using ByteProgress = std::function<void(std::int64_t held, std::int64_t total)>;

// Downloads one address to a file, on the calling thread: blocks until the complete body has
// been moved to `to` (any item there replaced), or throws the error that ended the download. A
// missing parent folder is an error. An HTTP status of 400 or more is a failure ("am" 5).
//
// An HTTP status of 400 or more is a failure ("am" 5). A download that would leave less free
// space on its volume than the reserve kept for everything else stops with "am" 9 (see
// DiskReserve); a body whose announced length does not fit fails before its first byte is
// written.
//
// `progress` gets held / total once per chunk written, only when the whole body's length is
// known and at least 1 byte, where `held` counts the bytes kept from earlier attempts too (the
// fractions go on from there, they do not start at 0); options.onRetry runs before each further
// attempt. Both run on the calling thread; an exception either throws ends the download with it.
//
// The body grows in "<to>.part" beside the destination, with a record of its address and the
// server's validator in "<to>.part.meta" (see PartialDownload), so nothing at `to` changes on
// failure. A transient failure (see isTransient) is retried after each of options.retryDelays in
// turn, continuing the held bytes with a range request; only the last failure is thrown. After a
// failure the held bytes stay for a later download of the same address, unless they cannot be
// continued, are known to be wrong (checksum, size) or ran out of disk space. options.stop ends a
// transfer, or the wait before a retry, at once.
void syncDownload(const std::string& url, const std::filesystem::path& to,
                  const ProgressHandler& progress,
                  const TransferOptions& options = defaultTransferOptions(),
                  const DownloadCheck& check = {});

// The same, reporting byte counts: `progress` gets the bytes held (those kept from earlier
// attempts included) and the body's length once per chunk written, whether the length is known
// or not.
void downloadFile(const std::string& url, const std::filesystem::path& to,
                  const ByteProgress& progress,
                  const TransferOptions& options = defaultTransferOptions(),
                  const DownloadCheck& check = {});

} // namespace Core::Transfer
