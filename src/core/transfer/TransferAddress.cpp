#include "core/transfer/TransferAddress.h"

#include <curl/curl.h>

#include <new>

namespace Core::Transfer {

namespace {

// The address's scheme in lower case (libcurl normalises it), or the empty text.
std::string schemeOf(const CurlUrl& url) {
    char* scheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return {};
    }
    std::string text = scheme;
    curl_free(scheme);
    return text;
}

} // namespace

CurlUrl parseTransferAddress(const std::string& address, bool allowPlainHttp) {
    CurlUrl url(curl_url());
    if (!url) {
        throw std::bad_alloc();
    }
    // Any well-formed scheme parses, so that "ftp:" or "file:" is reported as unsupported
    // rather than as text that is not an address at all.
    if (curl_url_set(url.get(), CURLUPART_URL, address.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK) {
        throw Error::am(AmCode::BadAddress);
    }
    const std::string scheme = schemeOf(url);
    if (scheme != "https" && !(scheme == "http" && allowPlainHttp)) {
        throw unsupportedAddress(address);
    }
    return url;
}

Error unsupportedAddress(std::string_view address) {
    return Error::am(AmCode::UnsupportedAddress, "unsupported address: " + std::string(address));
}

const char* allowedProtocols(bool allowPlainHttp) {
    return allowPlainHttp ? "http,https" : "https";
}

} // namespace Core::Transfer
