#pragma once

#include "core/transfer/Transfer.h"
#include "platform/Error.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Core::Transfer {

// What the final response (after the last redirect) said about its body. Header values are
// empty when the header was absent.
struct ResponseHead {
    long status = 0;
    std::optional<std::int64_t> announcedLength; // Content-Length, when announced
    std::string etag;
    std::string lastModified;
    std::string contentRange;
};

// Asks for the body from `offset` on ("Range: bytes=<offset>-"), but only while the resource
// still carries `validator` ("If-Range"); a changed resource is sent whole with status 200.
// The validator is a server's own header value, so it holds no line break. With `last`, only
// bytes up to it are asked for ("bytes=<offset>-<last>"); without a validator, no If-Range.
struct ResumeRequest {
    std::int64_t offset = 0;
    std::string validator;
    std::optional<std::int64_t> last{};
};

// Receives one response body while it arrives, on the thread that runs the transfer. Throwing
// from either call ends the transfer, and httpGet rethrows that exception.
class BodySink {
public:
    virtual ~BodySink() = default;
    // Once per transfer, with the final response's head. Called before the first chunk, or
    // when the transfer has ended for an empty body.
    virtual void begin(const ResponseHead& head) = 0;
    // The next bytes of the body, in order.
    virtual void write(std::string_view chunk) = 0;
};

// One GET of `address` as every request of the launcher looks: the launcher's User-Agent,
// "Cache-Control: no-cache", no other header (but the two of `resume`, when given), cookie or
// credential; redirects followed (at
// most 10) within the allowed protocols. Blocks the calling thread until the transfer ends;
// `options.stop` ends it early, and so does a stall (see StallWatch), including, when
// `totalTimeout` is above 0, not being finished that long after the start. The body goes to
// `sink` chunk by chunk, never held here.
// Throws Error: "am" 1 or 7 for an address that is refused (nothing sent; a refused redirect
// target also gives "am" 7), "curl" with the CURLcode and curl's text for transport failures,
// "curl" 28 (CURLE_OPERATION_TIMEDOUT) with the reason for a stall, "curl" 42 for a stop
// request; or whatever the sink threw.
void httpGet(const std::string& address, const TransferOptions& options, BodySink& sink,
             const std::optional<ResumeRequest>& resume = std::nullopt,
             std::chrono::milliseconds totalTimeout = {});

// Keeps connections open between the requests made through it, so that a run of requests to
// one host pays for one connection (and one TLS handshake). One thread at a time.
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

private:
    friend void httpGet(HttpSession&, const std::string&, const TransferOptions&, BodySink&,
                        const std::optional<ResumeRequest>&, std::chrono::milliseconds);
    struct Connections;
    std::unique_ptr<Connections> connections_;
};

// httpGet over the session's connections.
void httpGet(HttpSession& session, const std::string& address, const TransferOptions& options,
             BodySink& sink, const std::optional<ResumeRequest>& resume = std::nullopt,
             std::chrono::milliseconds totalTimeout = {});

// The error a transfer ends with when it was asked to stop: "curl" 42 "transfer stopped".
Error transferStopped();

} // namespace Core::Transfer
