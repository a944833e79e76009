#include "ui/DownloadRate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

// How often the line may change, and how long the speed remembers: a burst or a stall moves it
// over a few seconds rather than at once.
constexpr auto refreshEvery = 250ms;
constexpr double smoothingSeconds = 3.0;

std::string wholeMegabytes(std::int64_t bytes) {
    const auto megabytes =
        static_cast<long long>(std::llround(static_cast<double>(bytes) / 1048576.0));
    std::string digits = std::to_string(megabytes);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return digits;
}

std::string timeLeft(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    if (whole < 60) {
        return "about " + std::to_string(std::max(whole, 1LL)) + " s left";
    }
    const long long minutes = (whole + 30) / 60;
    if (minutes < 60) {
        return "about " + std::to_string(minutes) + " min left";
    }
    return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
           " min left";
}

} // namespace

std::string downloadDetail(std::int64_t done, std::int64_t total, double bytesPerSecond) {
    if (bytesPerSecond < 0) {
        return {};
    }
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f MB/s", bytesPerSecond / 1048576.0);
    if (total <= 0) {
        return wholeMegabytes(done) + " MB \u00b7 " + speed;
    }
    std::string line =
        wholeMegabytes(done) + " of " + wholeMegabytes(total) + " MB \u00b7 " + speed;
    if (bytesPerSecond > 0 && done < total) {
        line += " \u00b7 " + timeLeft(static_cast<double>(total - done) / bytesPerSecond);
    }
    return line;
}

std::optional<std::string> DownloadRate::sample(std::int64_t done, std::int64_t total,
                                                Clock::time_point now) {
    if (!started_) {
        started_ = lastShown_ = now;
        lastDone_ = done;
        return std::string();
    }
    const double elapsed = std::chrono::duration<double>(now - lastShown_).count();
    // The last byte of a known length is always shown; everything else waits its turn.
    const bool complete = total > 0 && done >= total;
    if (!complete && now - lastShown_ < refreshEvery) {
        return std::nullopt;
    }
    const double current = static_cast<double>(done - lastDone_) / std::max(elapsed, 1e-3);
    // The first second sets the speed outright; after that each refresh moves it part of the way.
    if (now - *started_ >= 1s) {
        const double weight = 1.0 - std::exp(-elapsed / smoothingSeconds);
        bytesPerSecond_ =
            bytesPerSecond_ < 0 ? current : bytesPerSecond_ + weight * (current - bytesPerSecond_);
    }
    lastShown_ = now;
    lastDone_ = done;
    return downloadDetail(done, total, bytesPerSecond_);
}
