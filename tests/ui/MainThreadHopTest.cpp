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

// Each probe records what the window shows at its turn: hops out of order, or off the main
// thread, would show in the record.
TEST_F(MainThreadHop, ChangesFromAWorkerApplyInOrderOnTheMainThread) {
    const LineLimitedLabel& status = view<LineLimitedLabel>("statusLabel");
    const QProgressBar& bar = view<QProgressBar>("progressBar");
    std::vector<std::pair<QString, double>> seen;
    std::vector<bool> onMainThread;
    std::thread worker([&] {
        for (int i = 1; i <= 200; ++i) {
            launcher.setStatus("step " + std::to_string(i));
            launcher.setProgress(i / 200.0);
            launcher.ui([&] {
                seen.emplace_back(status.text(), Views::fraction(bar));
                onMainThread.push_back(QThread::currentThread() == status.thread());
            });
        }
    });
    worker.join(); // never blocked on the main thread, which has not run an event yet
    EXPECT_TRUE(seen.empty());
    runQueuedWork();
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 1; i <= 200; ++i) {
        EXPECT_EQ(seen[i - 1], std::pair(QString("step %1").arg(i), i / 200.0));
        EXPECT_TRUE(onMainThread[i - 1]);
    }
}

// A download reports thousands of fractions a second; the queue holds one of them, the bar
// shows the latest, and a fraction past either end shows that end.
TEST_F(MainThreadHop, ProgressShowsTheLatestFractionOnceWithinTheBar) {
    QProgressBar& bar = view<QProgressBar>("progressBar");
    QSignalSpy values(&bar, &QProgressBar::valueChanged);
    std::thread worker([&] {
        for (int i = 1; i <= 1000; ++i) {
            launcher.setProgress(i / 2000.0);
        }
    });
    worker.join();
    runQueuedWork();
    EXPECT_EQ(values.size(), 1);
    EXPECT_DOUBLE_EQ(Views::fraction(bar), 0.5);
    for (const auto& [given, shown] : {std::pair{1.7, 1.0}, {0.25, 0.25}, {-0.3, 0.0}}) {
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
