#include "core/transfer/DownloadSink.h"

#include "core/transfer/ContentRange.h"
#include "platform/Error.h"

#include <algorithm>

namespace Core::Transfer {

namespace {

constexpr std::int64_t MiB = 1024 * 1024;

constexpr long PartialContent = 206;
constexpr long RangeNotSatisfiable = 416;

// How far a body may run past the size the release announced: enough for a release whose
// size was rounded, far too little to fill a disk.
std::int64_t sizeLimit(std::int64_t declaredSize) {
    return declaredSize + std::max(MiB, declaredSize / 100);
}

} // namespace

DownloadSink::DownloadSink(PartialDownload& part, const DownloadCheck& check,
                           const ByteProgress& onProgress)
    : part_(part), check_(check), onProgress_(onProgress), space_(part.path().parent_path()) {
    if (!check_.sha256.empty()) {
        hash_.emplace();
        // Bytes kept from an earlier run were not seen by this process: read them once.
        if (part_.resumeRequest()) {
            part_.readHeldBytes([this](std::string_view bytes) { hash_->update(bytes); });
        }
    }
}

std::optional<ResumeRequest> DownloadSink::nextAttempt() {
    resume_ = part_.resumeRequest();
    status_ = 0;
    return resume_;
}

void DownloadSink::restartFromZero() {
    part_.forget();
    if (hash_) {
        hash_.emplace();
    }
}

void DownloadSink::verify() {
    if (hash_) {
        Trust::requireChecksum(hash_->finished(), check_.sha256);
    }
}

void DownloadSink::begin(const ResponseHead& head) {
    status_ = head.status;
    if (resume_ && head.status == RangeNotSatisfiable) {
        throw RestartFromZero{};
    }
    // An error page is not the archive: saving it would only fail later, less clearly.
    if (head.status >= 400) {
        throw Error::am(AmCode::HttpStatus,
                        "download failed with HTTP status " + std::to_string(head.status));
    }
    if (resume_ && head.status == PartialContent) {
        acceptRange(head);
    } else {
        // A fresh body, or the server sent the whole one again (it ignores ranges, or the
        // file changed since the held bytes came).
        startNewBody(head);
    }
    requireWithinLimit(total_);
    if (total_ > 0) {
        space_.require(static_cast<std::uint64_t>(total_ - part_.size()));
    }
}

void DownloadSink::write(std::string_view chunk) {
    requireWithinLimit(part_.size() + static_cast<std::int64_t>(chunk.size()));
    space_.claim(chunk.size());
    part_.append(chunk);
    if (hash_) {
        hash_->update(chunk);
    }
    if (onProgress_) {
        onProgress_(part_.size(), total_);
    }
}

void DownloadSink::acceptRange(const ResponseHead& head) {
    const auto range = parseContentRange(head.contentRange);
    const std::int64_t recorded = part_.record().length;
    if (!range || range->first != resume_->offset || range->last != range->total - 1 ||
        (recorded != 0 && range->total != recorded)) {
        throw RestartFromZero{};
    }
    total_ = range->total;
}

void DownloadSink::startNewBody(const ResponseHead& head) {
    total_ = head.announcedLength.value_or(0);
    part_.restart({part_.record().address, resumeValidator(head), total_});
    if (hash_) {
        hash_.emplace();
    }
}

void DownloadSink::requireWithinLimit(std::int64_t bodyBytes) const {
    if (check_.declaredSize <= 0 || bodyBytes <= sizeLimit(check_.declaredSize)) {
        return;
    }
    throw Error::am(AmCode::ReleaseFileTooLarge, "release file too large",
                    "at least " + std::to_string(bodyBytes) + " bytes; the release announced " +
                        std::to_string(check_.declaredSize));
}

} // namespace Core::Transfer
