#include "EventLoop.h"
#include "LauncherFixture.h"
#include "platform/GameLaunch.h"
#include "support/TempDir.h"

#include <QLabel>
#include <QTest>
#include <QTimer>

namespace fs = std::filesystem;

namespace {

// PLAY with an installed build the test lays out.
class Play : public LauncherFixture {
protected:
    // Presses PLAY inside the event loop; the loop's result: 0 when the launcher quit, 7 when
    // it stayed open.
    int pressPlay() {
        QTimer::singleShot(0, &controller, &UpdateController::launchGame);
        return runEventLoop(std::chrono::milliseconds(500), 7);
    }
    QString status() { return view<QLabel>("statusLabel").text(); }

    // A game that leaves a mark in its folder and ends.
    void writeGame(fs::perms mode) {
        writeFile(executable, "#!/bin/sh\n: > started.txt\n");
        fs::permissions(executable, mode);
    }

    fs::path executable = bundleExecutable(layout.gameAppPath(manifestOf("1.4.0")));
};

TEST_F(Play, StartsAPresentBuildAndQuits) {
    writeGame(fs::perms::owner_all);
    launcher.storeManifest(manifestOf("1.4.0"));

    EXPECT_EQ(pressPlay(), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return fs::exists(executable.parent_path() / "started.txt"); }, 10'000));
}

TEST_F(Play, StaysOpenAndSaysWhyWhenTheGameCannotStart) {
    const QString nothingInstalled =
        "Nothing installed yet — check your connection and press 'check again'.";
    const std::vector<std::tuple<const char*, std::function<void()>, QString>> cases = {
        {"no manifest yet", [] {}, "Checking for updates…"},
        {"build deleted", [this] { launcher.storeManifest(manifestOf("1.4.0")); },
         nothingInstalled},
        {"not executable",
         [&] {
             writeGame(fs::perms::owner_read | fs::perms::owner_write);
             launcher.storeManifest(manifestOf("1.4.0"));
         },
         "Could not start the game.\ncannot start " + QString::fromStdString(executable.string()) +
             ": Permission denied"},
    };
    for (const auto& [what, arrange, shown] : cases) {
        arrange();
        EXPECT_EQ(pressPlay(), 7) << what;
        EXPECT_EQ(status(), shown) << what;
    }
}

} // namespace
