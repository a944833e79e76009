#include "ui/DownloadFeedback.h"

#include <utility>

namespace {

constexpr auto FrameInterval = std::chrono::milliseconds(16);

} // namespace

DownloadFeedback::DownloadFeedback(UpdateFlowView& view, std::string downloadingText)
    : view_(view), downloadingText_(std::move(downloadingText)) {
    view_.setStatus(downloadingText_);
}

DownloadFeedback::~DownloadFeedback() {
    if (heldBack_) {
        view_.setProgress(*heldBack_);
    }
}

TransferOptions DownloadFeedback::withRetryNotice(TransferOptions options) {
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
    const auto now = std::chrono::steady_clock::now();
    if (fraction < 1.0 && now - lastShown_ < FrameInterval) {
        heldBack_ = fraction;
        return;
    }
    heldBack_.reset();
    lastShown_ = now;
    view_.setProgress(fraction);
}
