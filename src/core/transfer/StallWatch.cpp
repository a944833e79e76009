#include "core/transfer/StallWatch.h"

#include <algorithm>

namespace Core::Transfer {

StallWatch::StallWatch(const TransferOptions& options, std::chrono::milliseconds totalTimeout,
                       Clock::time_point start)
    : idleTimeout_(options.idleTimeout), window_(options.lowSpeedWindow),
      windowMinimum_(options.lowSpeedWindow.count() > 0
                         ? std::max<std::int64_t>(0, options.lowSpeedLimit) *
                               options.lowSpeedWindow.count() / 1000
                         : 0),
      lowSpeedLimit_(options.lowSpeedLimit), totalTimeout_(totalTimeout), lastByte_(start),
      windowEnd_(start + options.lowSpeedWindow) {
    if (totalTimeout.count() > 0) {
        deadline_ = start + totalTimeout;
    }
}

void StallWatch::received(std::size_t bytes, Clock::time_point now) {
    lastByte_ = now;
    receivedTotal_ += static_cast<std::int64_t>(bytes);
}

std::optional<std::string> StallWatch::stalled(Clock::time_point now) {
    if (now >= idleEnd()) {
        return "no data received for " + std::to_string(idleTimeout_.count()) + " milliseconds";
    }
    if (deadline_ && now >= *deadline_) {
        return "not finished within " + std::to_string(totalTimeout_.count()) + " milliseconds";
    }
    if (windowMinimum_ > 0 && now >= windowEnd_) {
        if (receivedTotal_ - receivedAtWindowStart_ < windowMinimum_) {
            return "less than " + std::to_string(lowSpeedLimit_) + " bytes a second over " +
                   std::to_string(window_.count()) + " milliseconds";
        }
        windowEnd_ = now + window_;
        receivedAtWindowStart_ = receivedTotal_;
    }
    return std::nullopt;
}

std::chrono::milliseconds StallWatch::untilNextCheck(Clock::time_point now) const {
    Clock::time_point next = idleEnd();
    if (deadline_) {
        next = std::min(next, *deadline_);
    }
    if (windowMinimum_ > 0) {
        next = std::min(next, windowEnd_);
    }
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(next - now),
                    std::chrono::milliseconds(1));
}

} // namespace Core::Transfer
