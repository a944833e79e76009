#pragma once

#include "core/transfer/Transfer.h"

#include <string>

namespace Core::Transfer {

// GETs a small text file (manifest, changelog) and returns its body unchanged, or the empty text
// when the body is not valid UTF-8. Blocks the calling thread until the transfer ends. The HTTP
// status is not examined: an error page comes back as text.
// Throws Error: "am" 1 for an address that does not parse (nothing sent), "am" 7 for an address
// that is not http(s) or plain http where https is required, "am" 12 past 4 MiB, "curl" with
// the CURLcode and curl's message for transport failures.
std::string fetch(const std::string& address,
                  const TransferOptions& options = defaultTransferOptions());

} // namespace Core::Transfer
