#pragma once

#include "core/transfer/Transfer.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace Core::Transfer {

// Decides when a running transfer has stalled: no byte for options.idleTimeout, fewer than
// options.lowSpeedLimit bytes a second over a whole options.lowSpeedWindow (counted in
// consecutive windows from the start), or, when `totalTimeout` is above 0, not finished that
// long after the start. Lives on the transfer's thread.
class StallWatch {
public:
    using Clock = std::chrono::steady_clock;

    StallWatch(const TransferOptions& options, std::chrono::milliseconds totalTimeout,
               Clock::time_point start);

    // Bytes arrived (headers or body).
    void received(std::size_t bytes, Clock::time_point now);
    // Why the transfer must end at `now`, or nothing while it may go on.
    std::optional<std::string> stalled(Clock::time_point now);
    // How long the transfer may wait for data from `now` before stalled() has to be asked
    // again; at least 1 ms after stalled(now) said nothing.
    std::chrono::milliseconds untilNextCheck(Clock::time_point now) const;

private:
    Clock::time_point idleEnd() const { return lastByte_ + idleTimeout_; }

    std::chrono::milliseconds idleTimeout_;
    std::chrono::milliseconds window_;
    std::int64_t windowMinimum_; // bytes each window must bring; 0: no low-speed limit
    std::int64_t lowSpeedLimit_; // bytes a second, for the message
    std::chrono::milliseconds totalTimeout_;
    std::optional<Clock::time_point> deadline_;
    Clock::time_point lastByte_;
    Clock::time_point windowEnd_;
    std::int64_t receivedTotal_ = 0;
    std::int64_t receivedAtWindowStart_ = 0;
};

} // namespace Core::Transfer
