#pragma once

#include "core/transfer/Transfer.h"
#include "ui/UpdateFlow.h"

#include <string>

// The status line and progress bar while the archive downloads: the downloading text, then
// "Connection lost — retrying (2 of 4)…" while a lost connection is retried, and the
// downloading text again once bytes flow. Construction shows the downloading text; progress()
// and the retry handler run on the download's thread, one at a time. Must outlive the download.
class DownloadFeedback {
public:
    DownloadFeedback(UpdateFlowView& view, std::string downloadingText);

    // `options` with the retry notice as its onRetry.
    Core::Transfer::TransferOptions withRetryNotice(Core::Transfer::TransferOptions options);
    void progress(double fraction);

private:
    UpdateFlowView& view_;
    std::string downloadingText_;
    bool retrying_ = false; // only touched on the download's thread
};
