#include "core/PatchUpdate.h"

#include "core/transfer/HttpGet.h"
#include "core/trust/Sha256.h"
#include "core/unpack/PatchStaging.h"
#include "platform/Error.h"

#include <map>
#include <memory>

namespace Core {

namespace {

// An index lists every file of a build in a line of about 150 bytes: this is room for half a
// million of them, and far less than memory.
constexpr std::int64_t MaxIndexBytes = 64 * 1024 * 1024;

Error indexTooLarge() {
    return Error::am(AmCode::ReleaseFileTooLarge, "release file too large",
                     "the file index runs past " + std::to_string(MaxIndexBytes) + " bytes");
}

class IndexSink final : public Transfer::BodySink {
public:
    void begin(const Transfer::ResponseHead& head) override {
        status_ = head.status;
        if (head.announcedLength && *head.announcedLength > MaxIndexBytes) {
            throw indexTooLarge();
        }
    }
    void write(std::string_view chunk) override {
        if (static_cast<std::int64_t>(body_.size() + chunk.size()) > MaxIndexBytes) {
            throw indexTooLarge();
        }
        body_.append(chunk);
    }

    long status() const { return status_; }
    const std::string& body() const { return body_; }

private:
    long status_ = 0;
    std::string body_;
};

// Stages each fetched entry as its bytes arrive.
class StagingSink final : public Transfer::SpanSink {
public:
    StagingSink(const FileIndex& next, const Unpack::PatchPlan& plan,
                const Unpack::DestinationFolder& staging, mode_t umask)
        : next_(next), plan_(plan), staging_(staging), umask_(umask) {}

    void write(std::size_t span, std::string_view bytes) override { opened(span).feed(bytes); }
    void finish(std::size_t span) override {
        opened(span).commit();
        open_.erase(span);
    }

private:
    Unpack::StagedEntry& opened(std::size_t span) {
        auto& entry = open_[span];
        if (!entry) {
            entry = std::make_unique<Unpack::StagedEntry>(staging_,
                                                          next_.entries[plan_.fetch[span]], umask_);
        }
        return *entry;
    }

    const FileIndex& next_;
    const Unpack::PatchPlan& plan_;
    const Unpack::DestinationFolder& staging_;
    mode_t umask_;
    std::map<std::size_t, std::unique_ptr<Unpack::StagedEntry>> open_;
};

} // namespace

std::optional<FileIndex> fetchIndex(const Manifest& manifest,
                                    const Transfer::TransferOptions& options) {
    if (manifest.indexUrl.empty() || !Trust::isSha256Hex(manifest.indexSha256)) {
        return std::nullopt;
    }
    IndexSink sink;
    Transfer::httpGet(manifest.indexUrl, options, sink);
    if (sink.status() >= 400) {
        return std::nullopt;
    }
    Trust::Sha256 hash;
    hash.update(sink.body());
    Trust::requireChecksum(hash, manifest.indexSha256);
    try {
        return FileIndex::parse(sink.body());
    } catch (const FileIndexError&) {
        return std::nullopt;
    }
}

bool worthPatching(const FileIndex& next, const Unpack::PatchPlan& plan, std::int64_t archiveSize) {
    std::int64_t bytes = 0;
    for (const ByteSpan& range : Transfer::coalesceSpans(plan.spans(next))) {
        bytes += range.length;
    }
    return archiveSize > 0 && bytes <= archiveSize / 2;
}

Transfer::RangeOutcome
fetchPatch(const Manifest& manifest, const FileIndex& next, const Unpack::PatchPlan& plan,
           const Unpack::DestinationFolder& staging, mode_t umask,
           const Transfer::TransferOptions& options,
           const std::function<void(std::int64_t, std::int64_t)>& onProgress) {
    StagingSink sink(next, plan, staging, umask);
    return Transfer::fetchSpans(manifest.url, manifest.size, plan.spans(next), sink, options,
                                onProgress);
}

} // namespace Core
