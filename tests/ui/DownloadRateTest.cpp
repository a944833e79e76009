#include "ui/DownloadRate.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr std::int64_t MB = 1048576;

TEST(DownloadRate, LineNamesAmountSpeedAndTimeLeft) {
    const struct {
        std::int64_t done, total;
        double speed;
        std::string expected;
    } rows[] = {
        {312 * MB, 1204 * MB, 18.4 * MB, "312 of 1,204 MB \u00b7 18.4 MB/s \u00b7 about 49 s left"},
        {0, 2500 * MB, 2.0 * MB, "0 of 2,500 MB \u00b7 2.0 MB/s \u00b7 about 21 min left"},
        {1 * MB, 9000 * MB, 1.0 * MB, "1 of 9,000 MB \u00b7 1.0 MB/s \u00b7 about 2 h 30 min left"},
        {7 * MB, 0, 1.5 * MB, "7 MB \u00b7 1.5 MB/s"},           // no length from the host
        {5 * MB, 5 * MB, 3.0 * MB, "5 of 5 MB \u00b7 3.0 MB/s"}, // done: nothing left to time
        {5 * MB, 9 * MB, 0, "5 of 9 MB \u00b7 0.0 MB/s"},        // stalled: no guess
        {5 * MB, 9 * MB, -1, ""},                                // speed not known yet
    };
    for (const auto& row : rows) {
        EXPECT_EQ(downloadDetail(row.done, row.total, row.speed), row.expected) << row.expected;
    }
}

// Fed every 50 ms for 3 s at 10 MB/s, with or without a length from the host: a line at most
// every 250 ms, none with a speed in the first second, then the steady speed.
TEST(DownloadRate, SmoothsTheSpeedAndLimitsHowOftenTheLineChanges) {
    using namespace std::chrono_literals;
    for (const std::int64_t total : {100 * MB, std::int64_t{0}}) {
        DownloadRate rate;
        std::vector<std::string> lines;
        for (int tick = 0; tick <= 60; ++tick) {
            if (auto line = rate.sample(tick * MB / 2, total,
                                        DownloadRate::Clock::time_point{} + tick * 50ms)) {
                lines.push_back(*line);
            }
        }
        EXPECT_LE(lines.size(), 14u) << total;
        EXPECT_EQ(lines[3], "") << total; // 750 ms in
        EXPECT_EQ(lines.back(), total ? "30 of 100 MB \u00b7 10.0 MB/s \u00b7 about 7 s left"
                                      : "30 MB \u00b7 10.0 MB/s");
    }
}

} // namespace
