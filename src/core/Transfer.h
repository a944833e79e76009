#pragma once

#include <chrono>
#include <stop_token>
#include <string>

// How one HTTP transfer behaves. Production uses the defaults; tests shorten the time-outs.
struct TransferOptions {
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(30)};
    // No byte for this long ends the transfer with a time-out error.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(30)};
    // False when the release host is https: plain http is then refused, redirects included.
    bool allowPlainHttp = false;
    // A stop request aborts the transfer promptly (the window closing mid-download).
    std::stop_token stop;
    // The certificate authorities https peers are checked against, as a PEM file; empty means
    // the system's store. Tests point it at a CA of their own.
    std::string caFile;
};

// The defaults for this build (plain http allowed only when the release host is http).
TransferOptions defaultTransferOptions();
