#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

// The transfer part: every HTTP request the launcher makes. Text fetches for the manifest, its
// signature and the changelog (Fetch); the archive's download with progress, checksum and size
// checks, retries and resumption from a partial file (syncDownload in FileDownloader, with
// DownloadSink, PartialDownload, RetryPolicy); and the one way a request is made and an address
// accepted (HttpGet, TransferAddress, CurlHandles). Every call blocks its caller's thread;
// nothing here knows the install or the window.
namespace Core::Transfer {

// How one HTTP transfer behaves. Production uses the defaults; tests shorten the time-outs.
struct TransferOptions {
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(30)};
    // No byte for this long ends the transfer with a time-out error.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(30)};
    // A host that trickles a byte now and then never falls silent, yet a transfer that averages
    // under lowSpeedLimit bytes a second over a lowSpeedWindow has stalled all the same: it ends
    // with the same time-out error (and is retried as one).
    std::int64_t lowSpeedLimit = 1024;
    std::chrono::milliseconds lowSpeedWindow{std::chrono::seconds(30)};
    // Text fetches only (manifest, signature, changelog): the longest one may take, start to
    // end, so that a slow host cannot hold up the check for updates.
    std::chrono::milliseconds textTimeout{std::chrono::seconds(60)};
    // False when the release host is https: plain http is then refused, redirects included.
    bool allowPlainHttp = false;
    // A stop request aborts the transfer promptly (the window closing mid-download).
    std::stop_token stop;

    // File downloads only: the waits before each further attempt after a transient failure
    // (connection lost, time-out, HTTP 5xx). Their count is the number of retries; empty means
    // one attempt only.
    std::vector<std::chrono::milliseconds> retryDelays{
        std::chrono::seconds(1), std::chrono::seconds(2), std::chrono::seconds(4)};
    // File downloads only: called on the downloading thread just before waiting for a retry,
    // with the number of the attempt about to start (2 for the first retry) and the most
    // attempts there will be.
    std::function<void(int attempt, int attempts)> onRetry;
    // The certificate authorities https peers are checked against, as a PEM file; empty means
    // the system's store. Tests point it at a CA of their own.
    std::string caFile;
};

// The defaults for this build (plain http allowed only when the release host is http).
TransferOptions defaultTransferOptions();

} // namespace Core::Transfer
