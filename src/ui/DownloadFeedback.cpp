#include "ui/DownloadFeedback.h"

#include <utility>

DownloadFeedback::DownloadFeedback(UpdateFlowView& view, std::string downloadingText)
    : view_(view), downloadingText_(std::move(downloadingText)) {
    view_.setStatus(downloadingText_);
}

Core::Transfer::TransferOptions
DownloadFeedback::withRetryNotice(Core::Transfer::TransferOptions options) {
    options.onRetry = [this](int attempt, int attempts) {
        view_.setStatus("Connection lost — retrying (" + std::to_string(attempt) + " of " +
                        std::to_string(attempts) + ")…");
        retrying_ = true;
    };
    return options;
}

void DownloadFeedback::progress(double fraction) {
    if (std::exchange(retrying_, false)) {
        view_.setStatus(downloadingText_);
    }
    view_.setProgress(fraction);
}
