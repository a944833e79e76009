#include "core/transfer/FileDownloader.h"

#include "core/transfer/DownloadSink.h"
#include "core/transfer/HttpGet.h"
#include "core/transfer/PartialDownload.h"
#include "core/transfer/RetryPolicy.h"
#include "core/trust/Sha256.h"

#include <cerrno>
#include <semaphore>
#include <stdexcept>
#include <utility>

namespace Core::Transfer {

namespace {

// A checksum that cannot match anything fails before a byte is fetched.
void requireUsableChecksum(const std::string& expected) {
    if (!expected.empty() && !Trust::isSha256Hex(expected)) {
        Trust::requireChecksum(Trust::Sha256(), expected);
    }
}

// Bytes known to be wrong are no start for a later run; bytes that filled the disk would only
// take the room the next run needs.
bool discardsHeldBytes(const Error& error) {
    const bool diskFull =
        error.is(AmCode::NotEnoughSpace) ||
        (error.domain() == "posix" && (error.code() == ENOSPC || error.code() == EDQUOT));
    return diskFull || error.is(AmCode::ChecksumMismatch) || error.is(AmCode::ReleaseFileTooLarge);
}

// Attempts the transfer until the body is complete, continuing the held bytes each time.
// Throws the last failure once it is not transient or the attempts are used up.
void fetchWithRetries(const std::string& url, const TransferOptions& options,
                      Transfer::DownloadSink& sink) {
    const int attempts = static_cast<int>(options.retryDelays.size()) + 1;
    for (int attempt = 1;;) {
        try {
            Transfer::httpGet(url, options, sink, sink.nextAttempt());
            return;
        } catch (const Transfer::RestartFromZero&) {
            // Nothing failed: the held bytes are just of no use. Asked again at once, without
            // a range, so this cannot repeat.
            sink.restartFromZero();
        } catch (const Error& error) {
            if (attempt == attempts || !Transfer::isTransient(error, sink.lastStatus())) {
                throw;
            }
            ++attempt;
            if (options.onRetry) {
                options.onRetry(attempt, attempts);
            }
            if (!Transfer::waitUnlessStopped(options.retryDelays[attempt - 2], options.stop)) {
                throw Transfer::transferStopped();
            }
        }
    }
}

} // namespace

FileDownloader::FileDownloader(std::filesystem::path destination, ProgressHandler onProgress,
                               FinishHandler onFinish, TransferOptions options, DownloadCheck check)
    : destination_(std::move(destination)), onProgress_(std::move(onProgress)),
      onFinish_(std::move(onFinish)), options_(std::move(options)), check_(std::move(check)) {}

// worker_ is destroyed first: std::jthread requests a stop, which ends a running transfer, and
// joins, so onFinish has run before the other members go away.
FileDownloader::~FileDownloader() = default;

void FileDownloader::start(const std::string& url) {
    if (worker_.joinable()) {
        throw std::logic_error("a FileDownloader runs one download only");
    }
    worker_ = std::jthread([this, url](std::stop_token ownStop) { run(url, ownStop); });
}

void FileDownloader::run(const std::string& url, std::stop_token ownStop) {
    // Either the caller's stop request or this object going away ends the transfer.
    std::stop_source stop;
    std::stop_callback fromCaller(options_.stop, [&stop] { stop.request_stop(); });
    std::stop_callback fromOwner(ownStop, [&stop] { stop.request_stop(); });
    TransferOptions options = options_;
    options.stop = stop.get_token();
    try {
        download(url, options);
        finish(std::nullopt);
    } catch (const Error& error) {
        finish(error);
    }
}

void FileDownloader::download(const std::string& url, const TransferOptions& options) {
    requireUsableChecksum(check_.sha256);
    Transfer::PartialDownload part(destination_, url);
    Transfer::DownloadSink sink(part, check_, onProgress_);
    try {
        fetchWithRetries(url, options, sink);
        sink.verify();
    } catch (const Error& error) {
        if (discardsHeldBytes(error)) {
            part.discard();
        }
        throw;
    }
    part.commit();
}

void FileDownloader::finish(const std::optional<Error>& error) {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (onFinish_) {
        onFinish_(error);
    }
}

void syncDownload(const std::string& url, const std::filesystem::path& to,
                  const std::function<void(double)>& progress, const TransferOptions& options,
                  const DownloadCheck& check) {
    std::optional<Error> failure;
    std::binary_semaphore finished(0);
    FileDownloader downloader(
        to, progress,
        [&](const std::optional<Error>& error) {
            failure = error;
            finished.release();
        },
        options, check);
    downloader.start(url);
    // Wait for the report rather than leaving the scope: the downloader's destructor would
    // stop a transfer that is still running.
    finished.acquire();
    if (failure) {
        throw *failure;
    }
}

} // namespace Core::Transfer
