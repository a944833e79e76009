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
    std::string take() { return std::move(body_); }

private:
    std::string body_;
};

} // namespace

std::string fetch(const std::string& address, const TransferOptions& options) {
    TextSink sink;
    httpGet(address, options, sink);
    std::string body = sink.take();
    if (!Text::isValidUtf8(body)) {
        return {};
    }
    return body;
}

} // namespace Core::Transfer
