#pragma once

#include "core/transfer/Transfer.h"
#include "platform/Error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

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

// Downloads one address to a file on its own background thread.
//
// Events, all on that thread, in order: onProgress(held / total) once per chunk written, only
// when the whole body's length is known and at least 1 byte, where `held` counts the bytes
// kept from earlier attempts too (the fractions go on from there, they do not start at 0);
// options.onRetry before each further attempt; then onFinish exactly once, with no error when
// the complete body has been moved to `destination` (any item there replaced), or with the
// error that ended the download. A missing parent folder is an error. An HTTP status of 400 or
// more is a failure ("am" 5). A download that would leave less free space on its volume than
// the reserve kept for everything else stops with "am" 9 (see DiskReserve); a body whose
// announced length does not fit fails before its first byte is written.
//
// The body grows in "<destination>.part" beside the destination, with a record of its address
// and the server's validator in "<destination>.part.meta" (see PartialDownload), so nothing at
// `destination` changes on failure. A transient failure (see isTransient) is retried after
// each of options.retryDelays in turn, continuing the held bytes with a range request; only
// the last failure is reported. After a failure the held bytes stay for a later download of the
// same address, unless they cannot be continued, are known to be wrong (checksum, size) or ran
// out of disk space.
//
// An Error thrown by onProgress ends the download with that error; the handlers throw nothing
// else. One download per object. The destructor stops a running transfer, or the wait before a
// retry, and joins the thread: no callback runs after it returns.
class FileDownloader {
public:
    using ProgressHandler = std::function<void(double fraction)>;
    using FinishHandler = std::function<void(const std::optional<Error>& error)>;

    FileDownloader(std::filesystem::path destination, ProgressHandler onProgress,
                   FinishHandler onFinish, TransferOptions options = defaultTransferOptions(),
                   DownloadCheck check = {});
    ~FileDownloader();
    FileDownloader(const FileDownloader&) = delete;
    FileDownloader& operator=(const FileDownloader&) = delete;

    // Begins the download and returns at once.
    void start(const std::string& url);

private:
    void run(const std::string& url, std::stop_token ownStop);
    void download(const std::string& url, const TransferOptions& options);
    void finish(const std::optional<Error>& error);

    std::filesystem::path destination_;
    ProgressHandler onProgress_;
    FinishHandler onFinish_;
    TransferOptions options_;
    DownloadCheck check_;
    bool finished_ = false; // only touched on worker_
    std::jthread worker_;
};

// Blocks until the file is complete at `to`, or throws the download's error. `progress` runs on
// the download's thread, never after this returns.
void syncDownload(const std::string& url, const std::filesystem::path& to,
                  const std::function<void(double)>& progress,
                  const TransferOptions& options = defaultTransferOptions(),
                  const DownloadCheck& check = {});

} // namespace Core::Transfer
