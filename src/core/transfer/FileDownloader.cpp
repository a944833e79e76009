#include "core/transfer/FileDownloader.h"

#include "core/transfer/DownloadSink.h"
#include "core/transfer/HttpGet.h"
#include "core/transfer/PartialDownload.h"
#include "core/transfer/RetryPolicy.h"
#include "core/trust/Sha256.h"
#include "platform/Error.h"

#include <cerrno>

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

void syncDownload(const std::string& url, const std::filesystem::path& to,
                  const ProgressHandler& progress, const TransferOptions& options,
                  const DownloadCheck& check) {
    const ByteProgress share = [&progress](std::int64_t held, std::int64_t total) {
        if (total >= 1 && progress) {
            progress(static_cast<double>(held) / static_cast<double>(total));
        }
    };
    downloadFile(url, to, share, options, check);
}

void downloadFile(const std::string& url, const std::filesystem::path& to,
                  const ByteProgress& progress, const TransferOptions& options,
                  const DownloadCheck& check) {
    requireUsableChecksum(check.sha256);
    Transfer::PartialDownload part(to, url);
    Transfer::DownloadSink sink(part, check, progress);
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

} // namespace Core::Transfer
