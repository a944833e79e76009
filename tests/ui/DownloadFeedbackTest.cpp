#include "ui/DownloadFeedback.h"

#include "ProgressRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Thousands of fractions in a few milliseconds: a handful reach the bar, the full bar always,
// and whatever was held back when the download ends.
TEST(DownloadFeedback, MovesTheBarAtMostOnceAFrameYetNeverLagsTheEnd) {
    for (const double last : {1.0, 0.75}) {
        ProgressRecorder bar;
        {
            DownloadFeedback feedback(bar, "Downloading v2.0…");
            for (int step = 1; step <= 30'000; ++step) {
                feedback.progress(last * step / 30'000.0);
            }
        }
        ASSERT_FALSE(bar.fractions.empty());
        EXPECT_LT(bar.fractions.size(), 200u) << last;
        EXPECT_EQ(bar.fractions.back(), last);
        EXPECT_EQ(std::count(bar.fractions.begin(), bar.fractions.end(), last), 1) << last;
    }
}

} // namespace
