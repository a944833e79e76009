#include "core/transfer/FailureKind.h"

#include "core/transfer/CurlHandles.h"

#include <curl/curl.h>

#include <cerrno>
#include <memory>

namespace Core::Transfer {

namespace {

FailureKind curlFailureKind(int code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return FailureKind::HostUnreachable;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FailureKind::NameNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return FailureKind::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return FailureKind::InsecureConnection;
    default:
        return FailureKind::Other;
    }
}

FailureKind amFailureKind(AmCode code) {
    switch (code) {
    case AmCode::HttpStatus:
        return FailureKind::HttpStatus;
    case AmCode::NotEnoughSpace:
        return FailureKind::DiskFull;
    case AmCode::BadSignature:
    case AmCode::ChecksumMismatch:
        return FailureKind::NotVerified;
    case AmCode::InstallLocked:
        return FailureKind::InstallBusy;
    case AmCode::OlderRelease:
        return FailureKind::OlderRelease;
    default:
        return FailureKind::Other;
    }
}

} // namespace

FailureKind failureKind(const Error& error) {
    if (error.domain() == "curl") {
        return curlFailureKind(error.code());
    }
    if (error.domain() == "posix" && error.code() == ENOSPC) {
        return FailureKind::DiskFull;
    }
    if (error.domain() == "am") {
        return amFailureKind(static_cast<AmCode>(error.code()));
    }
    return FailureKind::Other;
}

std::string hostOf(const std::string& address) {
    CurlUrl url(curl_url());
    char* host = nullptr;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
        return address;
    }
    const std::unique_ptr<char, decltype(&curl_free)> owned(host, &curl_free);
    return owned.get();
}

} // namespace Core::Transfer
