#include "ui/LauncherWindow.h"

#include "core/install/InstallStore.h"
#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "ui/Theme.h"
#include "ui/UpdateController.h"
#include "ui/Views.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

// Failed comparisons of texts print the text, not the bytes of a QString.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// A game that leaves a mark in its folder and ends.
const std::string markingGame = "#!/bin/sh\n: > started.txt\n";

// Runs the event loop until something ends it; its exit code, or `timeoutCode` after `limit`.
int runEventLoop(std::chrono::milliseconds limit, int timeoutCode) {
    const QObject timerOwner; // no time limit outlives its loop
    QTimer::singleShot(limit, &timerOwner, [timeoutCode] { QCoreApplication::exit(timeoutCode); });
    return QApplication::exec();
}

// A window with its views built and a controller for runs from a loopback release host, which
// offers 1.4.0. Public: the table's set-up steps use it.
class UpdateFlow : public testing::Test {
public:
    UpdateFlow() {
        launcher.buildWindow();
        server.serve("/latest.txt", "version = 1.4.0\nmacurl = " + server.url("/build.zip") +
                                        "\nmacsize = 1048576\n");
        server.serve("/changelog.txt", "## 1.4.0 | 2026-12-06\n+ New biome\n## 1.3.9\n");
        server.serve("/build.zip", ZipBuilder().file(gameFile, markingGame, 0755).bytes());
    }

    fs::path game() const { return layout.buildDir() / gameFile; }

    void installBuild(const std::string& version) {
        writeFile(game(), markingGame);
        fs::permissions(game(), fs::perms::owner_all);
        writeFile(layout.root / "installed.txt", version);
    }

    void waitForRunEnd() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !controller->isUpdating(); }, 20'000));
        QCoreApplication::sendPostedEvents();
    }

    // Presses PLAY inside the event loop: 0 when the launcher quit, 7 when it stayed open.
    int pressPlay() {
        QTimer::singleShot(0, controller.get(), &UpdateController::launchGame);
        return runEventLoop(std::chrono::milliseconds(500), 7);
    }

    // A download that stops half-way for `hold`, started by two checks within the same
    // millisecond, which must be one run.
    void startStalledDownload(std::chrono::seconds hold) {
        server.serveFile("/build.zip",
                         {{.body = std::string(200, 'x'), .cutAt = 100, .holdAtCut = hold}});
        controller->recheck();
        controller->recheck();
        ASSERT_TRUE(QTest::qWaitFor([this] { return status().startsWith("Downloading"); }, 10'000));
    }

    template <class View> View& view(const char* objectName) {
        return *launcher.widget()->findChild<View*>(QLatin1String(objectName));
    }
    QString status() { return view<QLabel>("statusLabel").text(); }

    std::unique_ptr<UpdateController> newController(Core::Transfer::TransferOptions options,
                                                    const std::string& host = "") {
        const std::string base = host.empty() ? server.url("") : host;
        return std::make_unique<UpdateController>(
            launcher, layout, ReleaseEndpoints{base + "/latest.txt", base + "/changelog.txt"},
            std::move(options));
    }

    TempDir temp;
    Core::Install::InstallLayout layout{temp / "install"};
    LoopbackServer server;
    LauncherWindow launcher{[this] {
        return Core::Install::installedVersion(layout);
    }};
    // Last, so it goes first: its worker uses everything above.
    std::unique_ptr<UpdateController> controller = newController(loopbackTransferOptions());
};

struct EndStateCase {
    const char* name;
    std::function<void(UpdateFlow&)> arrange;
    QString status;
    double progress;
    QString playTitle;
    bool playEnabled; // and then PLAY starts the build the run left
    QString versionLine;
    Colour versionColour;
    QString notes;
    // Test names and failure messages show the case's name, not its bytes.
    friend void PrintTo(const EndStateCase& c, std::ostream* out) { *out << c.name; }
};

class EndState : public UpdateFlow, public testing::WithParamInterface<EndStateCase> {};

TEST_P(EndState, ShowsItsWordsAndColourAndPlayStartsWhatTheRunLeft) {
    const EndStateCase& c = GetParam();
    c.arrange(*this);
    controller->recheck();
    waitForRunEnd();

    EXPECT_EQ(status(), c.status);
    EXPECT_NEAR(Views::fraction(view<QProgressBar>("progressBar")), c.progress, 0.01);
    EXPECT_EQ(view<QPushButton>("playButton").text(), c.playTitle);
    EXPECT_EQ(view<QPushButton>("playButton").isEnabled(), c.playEnabled);
    const QLabel& version = view<QLabel>("versionLabel");
    EXPECT_EQ(version.text(), c.versionLine);
    EXPECT_EQ(version.palette().color(QPalette::WindowText), Theme::qColor(c.versionColour));
    EXPECT_EQ(view<QLabel>("notesLabel").text(), c.notes);
    EXPECT_FALSE(fs::exists(layout.root / "update.zip")) << "the archive is not kept";
    if (c.playEnabled) {
        EXPECT_EQ(pressPlay(), 0);
        EXPECT_TRUE(QTest::qWaitFor(
            [this] { return fs::exists(game().parent_path() / "started.txt"); }, 10'000));
    }
}

const QString notes = "v1.4.0   2026-12-06\n\n+  New biome\n";

INSTANTIATE_TEST_SUITE_P(
    UpdateFlow, EndState,
    testing::Values(
        EndStateCase{"UpToDate", [](UpdateFlow& t) { t.installBuild("1.4.0"); }, "Ready to deploy.",
                     1.0, "PLAY", true, "Installed v1.4.0   ·   Latest v1.4.0   ·   up to date",
                     themeGreen, notes},
        // The install root does not exist yet: the run creates it before downloading.
        EndStateCase{"Updated", [](UpdateFlow&) {}, "Ready to deploy.", 1.0, "PLAY  v1.4.0", true,
                     "Installed v1.4.0   ·   Latest v1.4.0   ·   updated", themeGreen, notes},
        // PLAY goes on with the installed build; a changelog that cannot be had says so.
        EndStateCase{"OfflineWithABuild",
                     [](UpdateFlow& t) {
                         t.installBuild("1.3.9");
                         t.server.serve("/build.zip", "Not Found", 404);
                         t.server.serve("/changelog.txt", "", 404);
                     },
                     "Update check failed — playing installed v1.3.9.", 1.0, "PLAY  v1.3.9", true,
                     "Installed v1.3.9   ·   Latest v1.3.9   ·   offline", themeAmber,
                     "No release notes available."},
        EndStateCase{"HostDownNothingInstalled",
                     [](UpdateFlow& t) {
                         // A host that was there and is gone.
                         t.controller =
                             t.newController(loopbackTransferOptions(), LoopbackServer().url(""));
                     },
                     "Could not fetch the build.\nCannot reach 127.0.0.1 — check your internet "
                     "connection.",
                     0.0, "PLAY", false, "Installed —   ·   Latest —   ·   error", themeRed, ""}),
    [](const testing::TestParamInfo<EndStateCase>& info) { return std::string(info.param.name); });

using MainThreadHop = UpdateFlow;

// Each probe records what the window shows at its turn: hops out of order, or off the main
// thread, would show in the record. A download reports thousands of fractions a second; the queue
// holds one of them, the bar shows the latest, and a fraction past either end shows that end.
TEST_F(MainThreadHop, WorkerChangesApplyInOrderOnTheMainThreadAndProgressOnceWithinTheBar) {
    const QLabel& status = view<QLabel>("statusLabel");
    QProgressBar& bar = view<QProgressBar>("progressBar");
    QSignalSpy values(&bar, &QProgressBar::valueChanged);
    std::vector<std::pair<QString, bool>> seen, expected;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            launcher.setStatus("step " + std::to_string(i));
            expected.emplace_back(QString("step %1").arg(i), true);
            launcher.ui([&] {
                seen.emplace_back(status.text(), QThread::currentThread() == status.thread());
            });
        }
        for (int i = 1; i <= 1000; ++i) {
            launcher.setProgress(i / 2000.0);
        }
    });
    worker.join(); // never blocked on the main thread, which has not run an event yet
    EXPECT_TRUE(seen.empty());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(values.size(), 1);
    EXPECT_DOUBLE_EQ(Views::fraction(bar), 0.5);
    for (const auto& [given, shown] : {std::pair{1.7, 1.0}, {-0.3, 0.0}}) {
        launcher.setProgress(given);
        QCoreApplication::sendPostedEvents();
        EXPECT_DOUBLE_EQ(Views::fraction(bar), shown) << given;
    }
    bool ran = false;
    auto gone = std::make_unique<LauncherWindow>([] { return std::string(); });
    gone->ui([&ran] { ran = true; });
    gone.reset();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ran) << "work queued for a gone window is dropped";
}

TEST_F(UpdateFlow, RunsNeverOverlap) {
    startStalledDownload(std::chrono::seconds(5));
    controller->recheck(); // during the download
    waitForRunEnd();
    EXPECT_EQ(server.requestsFor("/latest.txt"), 1);
    EXPECT_EQ(server.requestsFor("/build.zip"), 1);

    controller->recheck(); // idle again: a new run
    waitForRunEnd();
    EXPECT_EQ(server.requestsFor("/latest.txt"), 2);
}

TEST_F(UpdateFlow, ClosingTheWindowDuringAStalledDownloadEndsPromptly) {
    Core::Transfer::TransferOptions patient = loopbackTransferOptions();
    patient.idleTimeout = std::chrono::seconds(120);
    controller = newController(patient);
    startStalledDownload(std::chrono::seconds(120));

    const auto start = std::chrono::steady_clock::now();
    QApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, launcher.widget(), &QWidget::close);
    EXPECT_EQ(runEventLoop(std::chrono::seconds(60), 1), 0); // rather fail than hang
    controller.reset();

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(fs::exists(layout.root / "update.zip"));
    EXPECT_FALSE(fs::exists(layout.root / "installed.txt"));
}

// No text a release host sends is ever read as markup.
TEST_F(UpdateFlow, PlayStaysOpenAndSaysWhyWhenTheGameCannotStartAndTextsArePlain) {
    EXPECT_FALSE(view<QPushButton>("playButton").isEnabled());
    for (const QLabel* label : launcher.widget()->findChildren<QLabel*>()) {
        EXPECT_TRUE(label->textFormat() == Qt::PlainText || label->objectName() == "banner")
            << label->objectName().toStdString();
    }
    const std::vector<std::tuple<const char*, std::function<void()>, QString>> cases = {
        {"no manifest yet", [] {}, "Checking for updates…"},
        {"build deleted", [this] { launcher.storeManifest(Manifest::parse("version=1.4.0")); },
         "Nothing installed yet — check your connection and press 'check again'."},
        {"not executable", [&] { writeFile(game(), markingGame); },
         "Could not start the game.\nASHENMARCH: Permission denied"},
    };
    for (const auto& [what, arrange, expected] : cases) {
        arrange();
        EXPECT_EQ(pressPlay(), 7) << what;
        EXPECT_EQ(status(), expected) << what;
    }
}

} // namespace
