#include "core/FileDownloader.h"

#include "core/HttpGet.h"
#include "core/PendingFile.h"

#include <semaphore>
#include <stdexcept>
#include <utility>

namespace {

// The one place a download's body passes through on its way to disk: each chunk is appended
// to the pending file, then its progress is reported.
class DownloadSink final : public Core::BodySink {
public:
    DownloadSink(PendingFile& file, const FileDownloader::ProgressHandler& onProgress)
        : file_(file), onProgress_(onProgress) {}

    void begin(long status, std::optional<std::int64_t> announcedLength) override {
        // An error page is not the archive: saving it would only fail later, less clearly.
        if (status >= 400) {
            throw Error::am(AmCode::HttpStatus,
                            "download failed with HTTP status " + std::to_string(status));
        }
        total_ = announcedLength.value_or(0);
    }

    void write(std::string_view chunk) override {
        file_.append(chunk);
        if (total_ >= 1 && onProgress_) {
            onProgress_(static_cast<double>(file_.size()) / static_cast<double>(total_));
        }
    }

private:
    PendingFile& file_;
    const FileDownloader::ProgressHandler& onProgress_;
    std::int64_t total_ = 0;
};

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
        PendingFile file(destination_);
        DownloadSink sink(file, onProgress_);
        Core::httpGet(url, options, sink);
        file.commit();
        finish(std::nullopt);
    } catch (const Error& error) {
        finish(error);
    }
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
