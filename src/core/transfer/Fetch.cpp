#include "core/transfer/Fetch.h"

#include "core/transfer/HttpGet.h"
#include "formats/Text.h"
#include "platform/Error.h"

namespace Core::Transfer {

namespace {

// The release's text files are a few kilobytes; anything past this is not one of them and is
// not worth holding in memory.
constexpr std::int64_t MaxTextBytes = 4 * 1024 * 1024;

Error tooLarge() {
    return Error::am(AmCode::ReleaseFileTooLarge, "release file too large");
}

// Collects a text body in memory, refusing it as soon as it is known to be too large.
class TextSink final : public BodySink {
public:
    void begin(const ResponseHead& head) override {
        status_ = head.status;
        if (head.announcedLength && *head.announcedLength > MaxTextBytes) {
            throw tooLarge();
        }
    }
    void write(std::string_view chunk) override {
        if (static_cast<std::int64_t>(body_.size() + chunk.size()) > MaxTextBytes) {
            throw tooLarge();
        }
        body_.append(chunk);
    }
    long status() const { return status_; }
    std::string take() { return std::move(body_); }

private:
    long status_ = 0;
    std::string body_;
};

} // namespace

std::string fetch(const std::string& address, const TransferOptions& options) {
    return fetchWithStatus(address, options).body;
}

FetchedText fetchWithStatus(const std::string& address, const TransferOptions& options) {
    TextSink sink;
    httpGet(address, options, sink, std::nullopt, options.textTimeout);
    std::string body = sink.take();
    if (!Text::isValidUtf8(body)) {
        body.clear();
    }
    return {sink.status(), std::move(body)};
}

} // namespace Core::Transfer
