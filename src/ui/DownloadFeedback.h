#pragma once

#include "core/Transfer.h"
#include "ui/UpdateFlow.h"

#include <chrono>
#include <optional>
#include <string>

// The status line and progress bar while the archive downloads: the downloading text, then
// "Connection lost — retrying (2 of 4)…" while a lost connection is retried, and the
// downloading text again once bytes flow. Construction shows the downloading text; progress()
// and the retry handler run on the download's thread, one at a time. Must outlive the download.
//
// The bar moves at most once a frame: a download reports thousands of fractions a second, and
// showing each would keep the main thread drawing what nobody can see, taking a core from the
// download and the hashing. A full bar always shows, and a fraction held back is shown when
// this object goes, so the bar never lags the download when it ends or fails.
class DownloadFeedback {
public:
    DownloadFeedback(UpdateFlowView& view, std::string downloadingText);
    ~DownloadFeedback();
    DownloadFeedback(const DownloadFeedback&) = delete;
    DownloadFeedback& operator=(const DownloadFeedback&) = delete;

    // `options` with the retry notice as its onRetry.
    TransferOptions withRetryNotice(TransferOptions options);
    void progress(double fraction);

private:
    UpdateFlowView& view_;
    std::string downloadingText_;
    // Only touched on the download's thread.
    bool retrying_ = false;
    std::chrono::steady_clock::time_point lastShown_;
    std::optional<double> heldBack_;
};
