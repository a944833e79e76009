#include "LauncherFixture.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Views.h"

#include <QProgressBar>
#include <QSignalSpy>
#include <QThread>

#include <thread>
#include <vector>

namespace {

using MainThreadHop = LauncherFixture;

TEST_F(MainThreadHop, ChangesFromAWorkerApplyInOrderOnTheMainThread) {
    const LineLimitedLabel& status = view<LineLimitedLabel>("statusLabel");
    const QProgressBar& bar = view<QProgressBar>("progressBar");
    constexpr int steps = 200;

    // Each probe records what the window shows at its turn: if the hops ran out of order, or
    // off the main thread, the record would show it.
    std::vector<std::pair<QString, double>> seen;
    std::vector<bool> onMainThread;
    std::thread worker([&] {
        for (int i = 1; i <= steps; ++i) {
            launcher.setStatus("step " + std::to_string(i));
            launcher.setProgress(i / double(steps));
            launcher.ui([&] {
                seen.emplace_back(status.text(), Views::fraction(bar));
                onMainThread.push_back(QThread::currentThread() == status.thread());
            });
        }
    });
    worker.join(); // never blocked on the main thread, which has not run an event yet

    EXPECT_EQ(status.text(), "Checking for updates…");
    EXPECT_TRUE(seen.empty());
    runQueuedWork();

    ASSERT_EQ(seen.size(), std::size_t{steps});
    for (int i = 1; i <= steps; ++i) {
        EXPECT_EQ(seen[i - 1].first, QString("step %1").arg(i));
        EXPECT_DOUBLE_EQ(seen[i - 1].second, i / double(steps));
        EXPECT_TRUE(onMainThread[i - 1]);
    }
}

TEST_F(MainThreadHop, ProgressWaitingWithNothingBehindItTakesTheLatestFractionInstead) {
    // A download reports thousands of fractions a second; the queue holds one of them.
    QProgressBar& bar = view<QProgressBar>("progressBar");
    QSignalSpy values(&bar, &QProgressBar::valueChanged);
    std::thread worker([&] {
        for (int i = 1; i <= 1000; ++i) {
            launcher.setProgress(i / 2000.0);
        }
    });
    worker.join();
    runQueuedWork();
    ASSERT_EQ(values.size(), 1);
    EXPECT_DOUBLE_EQ(Views::fraction(bar), 0.5);

    launcher.setProgress(0.6);
    runQueuedWork();
    EXPECT_DOUBLE_EQ(Views::fraction(bar), 0.6) << "a new fraction once the last one applied";
}

TEST_F(MainThreadHop, IsDeferredEvenOnTheMainThread) {
    launcher.setStatus("Ready to deploy.");
    launcher.setProgress(1.0);
    EXPECT_EQ(view<LineLimitedLabel>("statusLabel").text(), "Checking for updates…");
    EXPECT_EQ(Views::fraction(view<QProgressBar>("progressBar")), 0.0);

    runQueuedWork();
    EXPECT_EQ(view<LineLimitedLabel>("statusLabel").text(), "Ready to deploy.");
    EXPECT_EQ(Views::fraction(view<QProgressBar>("progressBar")), 1.0);
}

TEST_F(MainThreadHop, ProgressOutsideTheRangeShowsTheBarsEnds) {
    QProgressBar& bar = view<QProgressBar>("progressBar");
    const std::vector<std::pair<double, double>> cases = {
        {0.5, 0.5}, {1.7, 1.0}, {0.25, 0.25}, {-0.3, 0.0}};
    for (const auto& [given, shown] : cases) {
        launcher.setProgress(given);
        runQueuedWork();
        EXPECT_DOUBLE_EQ(Views::fraction(bar), shown) << given;
    }
}

TEST(MainThreadHopLifetime, WorkQueuedForAGoneWindowIsDropped) {
    bool ran = false;
    {
        LauncherWindow launcher([] { return std::string(); });
        launcher.ui([&ran] { ran = true; });
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ran);
}

} // namespace
