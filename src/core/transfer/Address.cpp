#include "core/transfer/Address.h"

#include <curl/curl.h>

#include <memory>

namespace Core::Transfer {

bool isValidAddress(const std::string& address) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    return url && !address.empty() &&
           curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) == CURLUE_OK;
}

} // namespace Core::Transfer
