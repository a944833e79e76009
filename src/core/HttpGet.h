#pragma once

#include "core/Transfer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Core {

// Receives one response body while it arrives, on the thread that runs the transfer. Throwing
// from either call ends the transfer, and httpGet rethrows that exception.
class BodySink {
public:
    virtual ~BodySink() = default;
    // Once per transfer, after the last redirect: the final response's HTTP status and the
    // length it announced (nothing when it announced none). Called before the first chunk, or
    // when the transfer has ended for an empty body.
    virtual void begin(long status, std::optional<std::int64_t> announcedLength) = 0;
    // The next bytes of the body, in order.
    virtual void write(std::string_view chunk) = 0;
};

// One GET of `address` as every request of the launcher looks: the launcher's User-Agent,
// "Cache-Control: no-cache", no other header, cookie or credential; redirects followed (at
// most 10) within the allowed protocols. Blocks the calling thread until the transfer ends;
// `options.stop` ends it early. The body goes to `sink` chunk by chunk, never held here.
// Throws Error: "am" 1 or 7 for an address that is refused (nothing sent; a refused redirect
// target also gives "am" 7), "curl" with the CURLcode and curl's text for transport failures,
// including the idle time-out and a stop request; or whatever the sink threw.
void httpGet(const std::string& address, const TransferOptions& options, BodySink& sink);

} // namespace Core
