#pragma once

#include "core/transfer/Transfer.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace Core::Transfer {

// GETs a small text file (manifest, changelog) and returns its body unchanged, or the empty text
// when the body is not valid UTF-8. Blocks the calling thread until the transfer ends, at most
// options.textTimeout. The HTTP status is not examined: an error page comes back as text.
// Throws Error: "am" 1 for an address that does not parse (nothing sent), "am" 7 for an address
// that is not http(s) or plain http where https is required, "am" 12 past 4 MiB, "curl" with
// the CURLcode and curl's message for transport failures, "curl" 28 for a stall or a fetch
// that takes too long.
std::string fetch(const std::string& address,
                  const TransferOptions& options = defaultTransferOptions());

// A text file as fetch returns it, with the HTTP status of the final response.
struct FetchedText {
    long status = 0;
    std::string body;
};

// fetch, for callers to whom an error status means something.
FetchedText fetchWithStatus(const std::string& address,
                            const TransferOptions& options = defaultTransferOptions());

// A body of at most `maxBytes` held in memory as it came, with its status: for release files
// larger than a text (the file index). "am" 12 past `maxBytes`; `totalTimeout` above 0 bounds
// the whole transfer; otherwise the errors of fetch.
FetchedText fetchBounded(const std::string& address, const TransferOptions& options,
                         std::int64_t maxBytes, std::chrono::milliseconds totalTimeout = {});

} // namespace Core::Transfer
