#include "core/transfer/RetryPolicy.h"

#include <curl/curl.h>

#include <condition_variable>
#include <mutex>

namespace Core::Transfer {

bool isTransient(const Error& error, long httpStatus) {
    if (error.is(AmCode::HttpStatus)) {
        return httpStatus >= 500;
    }
    if (error.domain() != "curl") {
        return false;
    }
    switch (error.code()) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

bool waitUnlessStopped(std::chrono::milliseconds delay, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any woken;
    std::unique_lock lock(mutex);
    woken.wait_for(lock, stop, delay, [] { return false; });
    return !stop.stop_requested();
}

} // namespace Core::Transfer
