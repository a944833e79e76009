#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// The status's second line while the archive downloads: amount, speed and time left, e.g.
// "312 of 1,204 MB · 18.4 MB/s · about 50 s left". The speed is smoothed over a few seconds so
// that the line does not jump with every burst, and a new line is offered at most a few times a
// second. Fed from the download's thread only; not shared.
class DownloadRate {
public:
    using Clock = std::chrono::steady_clock;

    // A new byte count (`total` 0 when unknown). Returns the line to show when it is time for a
    // new one, else nothing. Until the speed is known (the first second) the line is left out:
    // an empty text.
    std::optional<std::string> sample(std::int64_t done, std::int64_t total, Clock::time_point now);

private:
    std::optional<Clock::time_point> started_;
    Clock::time_point lastShown_{};
    std::int64_t lastDone_ = 0;
    double bytesPerSecond_ = -1; // unknown
};

// The line for a byte count and speed (speed below 0: unknown, the line is empty).
std::string downloadDetail(std::int64_t done, std::int64_t total, double bytesPerSecond);
