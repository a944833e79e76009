#pragma once

#include "core/transfer/DiskReserve.h"
#include "core/transfer/FileDownloader.h"
#include "core/transfer/HttpGet.h"
#include "core/transfer/PartialDownload.h"
#include "core/trust/BackgroundSha256.h"

#include <cstdint>
#include <optional>

namespace Core::Transfer {

// Thrown by DownloadSink when the server cannot continue the bytes held (416, or a 206 for
// some other range or total): the caller forgets them and asks again from the start.
struct RestartFromZero {};

// Where a download's body passes through on its way to disk, across every attempt of one
// download: each chunk is checked against the size limit and the disk's reserve, appended to
// the partial file, hashed when a checksum is expected, then its progress reported as the
// bytes of the whole body held so far. A body whose length is announced is refused at once
// when the rest of it would not fit above the reserve. Lives on the download's thread.
class DownloadSink final : public BodySink {
public:
    // Hashes the bytes the partial file already holds when a checksum is expected.
    DownloadSink(PartialDownload& part, const DownloadCheck& check, const ByteProgress& onProgress);

    // Before each attempt: the request that continues the bytes held, if any. The next
    // response is read as its answer.
    std::optional<ResumeRequest> nextAttempt();
    // The HTTP status of the last response, 0 before one arrived.
    long lastStatus() const { return status_; }
    // Forgets the held bytes (see RestartFromZero).
    void restartFromZero();
    // After the last attempt succeeded: throws "am" 6 when the body is not the expected one.
    void verify();

    void begin(const ResponseHead& head) override;
    void write(std::string_view chunk) override;

private:
    void acceptRange(const ResponseHead& head);
    void startNewBody(const ResponseHead& head);
    void requireWithinLimit(std::int64_t bodyBytes) const;

    PartialDownload& part_;
    const DownloadCheck& check_;
    const ByteProgress& onProgress_;
    DiskReserve space_;
    std::optional<Trust::BackgroundSha256> hash_; // only when a checksum is expected
    std::optional<ResumeRequest> resume_;
    long status_ = 0;
    std::int64_t total_ = 0; // length of the whole body; 0 when unknown
};

} // namespace Core::Transfer
