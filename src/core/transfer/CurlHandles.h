#pragma once

#include <curl/curl.h>

#include <memory>

// Owning handles for the libcurl objects one transfer uses. Each is freed with its own cleanup
// call when the handle goes away; none is shared between transfers or threads.
namespace Core::Transfer {

struct CurlEasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlUrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;
using CurlList = std::unique_ptr<curl_slist, CurlListCleanup>;

} // namespace Core::Transfer
