#pragma once

#include "core/transfer/CurlHandles.h"
#include "platform/Error.h"

#include <string>
#include <string_view>

// Which addresses a transfer may use. Pure checks: nothing here touches the network.
namespace Core::Transfer {

// Parses the address for a transfer and returns it in libcurl's form. Throws "am" 1 (no
// message) when the text does not parse as an absolute URL, and "am" 7 when the scheme is not
// http(s), or is plain http while https is required.
CurlUrl parseTransferAddress(const std::string& address, bool allowPlainHttp);

// The error for an address the transfer refuses to use, initially or as a redirect target.
Error unsupportedAddress(std::string_view address);

// libcurl's protocol list for the first request and every redirect ("https" or "http,https").
const char* allowedProtocols(bool allowPlainHttp);

} // namespace Core::Transfer
