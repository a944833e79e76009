#include "core/transfer/Fetch.h"

#include "core/transfer/HttpGet.h"
#include "formats/Text.h"
#include "platform/Error.h"

namespace Core::Transfer {

namespace {

// The release's text files are a few kilobytes; anything past this is not one of them and is
// not worth holding in memory.
constexpr std::int64_t MaxTextBytes = 4 * 1024 * 1024;

Error releaseFileTooLarge() {
    return Error::am(AmCode::ReleaseFileTooLarge, "release file too large");
}

// Collects a body in memory, refusing it as soon as it is known to run past `maxBytes`.
class BoundedSink final : public BodySink {
public:
    explicit BoundedSink(std::int64_t maxBytes) : maxBytes_(maxBytes) {}

    void begin(const ResponseHead& head) override {
        status_ = head.status;
        if (head.announcedLength && *head.announcedLength > maxBytes_) {
            throw releaseFileTooLarge();
        }
    }
    void write(std::string_view chunk) override {
        if (static_cast<std::int64_t>(body_.size() + chunk.size()) > maxBytes_) {
            throw releaseFileTooLarge();
        }
        body_.append(chunk);
    }
    long status() const { return status_; }
    std::string take() { return std::move(body_); }

private:
    std::int64_t maxBytes_;
    long status_ = 0;
    std::string body_;
};

} // namespace

std::string fetch(const std::string& address, const TransferOptions& options) {
    return fetchWithStatus(address, options).body;
}

FetchedText fetchWithStatus(const std::string& address, const TransferOptions& options) {
    FetchedText text = fetchBounded(address, options, MaxTextBytes, options.textTimeout);
    if (!Text::isValidUtf8(text.body)) {
        text.body.clear();
    }
    return text;
}

FetchedText fetchBounded(const std::string& address, const TransferOptions& options,
                         std::int64_t maxBytes, std::chrono::milliseconds totalTimeout) {
    BoundedSink sink(maxBytes);
    httpGet(address, options, sink, std::nullopt, totalTimeout);
    return {sink.status(), sink.take()};
}

} // namespace Core::Transfer
