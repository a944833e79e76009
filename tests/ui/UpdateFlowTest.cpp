#include "ui/UpdateFlow.h"

#include "EventLoop.h"
#include "QtPrinting.h"
#include "core/install/InstallStore.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "ui/LauncherWindow.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Palette.h"
#include "ui/Theme.h"
#include "ui/UpdateController.h"
#include "ui/Views.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

namespace fs = std::filesystem;

namespace {

const fs::path bundleExecutable = fs::path("Contents") / "MacOS" / "ASHENMARCH";

std::string buildArchive(const std::string& bundle = "Ashenmarch.app",
                         const std::string& payload = "payload") {
    // Stored, not compressed: the archive is as large as its payload.
    return ZipBuilder()
        .uncompressed()
        .file(bundle + "/" + bundleExecutable.string(), "#!/bin/sh\n", 0755)
        .file(bundle + "/Contents/Resources/pack.dat", payload)
        .bytes();
}

std::string manifestText(const std::string& version, const std::string& url,
                         const std::string& exe = "Ashenmarch.app") {
    return "version = " + version + "\nmacurl = " + url + "\nmacsize = 1048576\nmacexe = " + exe +
           "\nnotes = test build\n";
}

const std::string changelog = "## 1.4.0 | 2026-12-06\n+ New biome\n## 1.3.9\n- Old island\n";

// What the window shows once every queued change has been applied.
struct Shown {
    QString status;
    double progress = 0;
    QString playTitle;
    bool playEnabled = false;
    QString versionLine;
    QColor versionColour;
};

// Public: the table's set-up steps use it.
class UpdateFlow : public testing::Test {
public:
    UpdateFlow() { launcher.buildWindow(); }

    fs::path root() const { return temp / "install"; }
    ReleaseEndpoints endpoints() const {
        return {server.url("/latest.txt"), server.url("/changelog.txt")};
    }

    void publish(const std::string& version, const std::string& archive,
                 const std::string& exe = "Ashenmarch.app") {
        server.serve("/latest.txt", manifestText(version, server.url("/build.zip"), exe));
        server.serve("/changelog.txt", changelog);
        server.serve("/build.zip", archive);
    }

    void installBuild(const std::string& version, const std::string& content = "old build") {
        writeFile(root() / "build" / "Ashenmarch.app" / bundleExecutable, content);
        writeFile(root() / "installed.txt", version);
    }

    // One run, from start to its last change applied.
    void runOnce() {
        controller->recheck();
        waitForRunEnd();
    }
    void waitForRunEnd() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !controller->isUpdating(); }, 20'000));
        QCoreApplication::sendPostedEvents();
    }

    // Presses PLAY inside the event loop; the loop's result: 0 when the launcher quit, 7 when
    // it stayed open.
    int pressPlay() {
        QTimer::singleShot(0, controller.get(), &UpdateController::launchGame);
        return runEventLoop(std::chrono::milliseconds(500), 7);
    }

    template <class View> View& view(const char* objectName) {
        return *launcher.widget()->findChild<View*>(QLatin1String(objectName));
    }

    Shown shown() {
        const auto& version = view<QLabel>("versionLabel");
        return {view<QLabel>("statusLabel").text(),
                Views::fraction(view<QProgressBar>("progressBar")),
                view<QPushButton>("playButton").text(),
                view<QPushButton>("playButton").isEnabled(),
                version.text(),
                version.palette().color(QPalette::WindowText)};
    }

    TempDir temp;
    Core::Install::InstallLayout layout{root()};
    LoopbackServer server;
    LauncherWindow launcher{[this] {
        return Core::Install::installedVersion(layout);
    }};
    // Last, so it goes first: its worker uses everything above.
    std::unique_ptr<UpdateController> controller = newController(loopbackTransferOptions());

    std::unique_ptr<UpdateController> newController(Core::Transfer::TransferOptions options,
                                                    std::optional<ReleaseEndpoints> other = {}) {
        return std::make_unique<UpdateController>(launcher, layout, other.value_or(endpoints()),
                                                  std::move(options));
    }
};

struct EndStateCase {
    const char* name;
    std::function<void(UpdateFlow&)> arrange;
    QString status;
    double progress;
    QString playTitle;
    bool playEnabled;
    QString versionLine;
    Colour versionColour;
};

// Test names and failure messages show the case's name, not its bytes.
void PrintTo(const EndStateCase& c, std::ostream* out) {
    *out << c.name;
}

class EndState : public UpdateFlow, public testing::WithParamInterface<EndStateCase> {};

TEST_P(EndState, ShowsStatusProgressPlayAndVersionLine) {
    const EndStateCase& c = GetParam();
    c.arrange(*this);
    runOnce();

    const Shown seen = shown();
    EXPECT_EQ(seen.status, c.status);
    EXPECT_DOUBLE_EQ(seen.progress, c.progress);
    EXPECT_EQ(seen.playTitle, c.playTitle);
    EXPECT_EQ(seen.playEnabled, c.playEnabled);
    EXPECT_EQ(seen.versionLine, c.versionLine);
    EXPECT_EQ(seen.versionColour, Theme::qColor(c.versionColour));
}

const QString upToDate = "Installed v1.4.0   ·   Latest v1.4.0   ·   up to date";
const QString updated = "Installed v1.4.0   ·   Latest v1.4.0   ·   updated";
const QString offline = "Installed v1.3.9   ·   Latest v1.3.9   ·   offline";
const QString offlineStatus = "Update check failed — playing installed v1.3.9.";

INSTANTIATE_TEST_SUITE_P(
    UpdateFlow, EndState,
    testing::Values(
        EndStateCase{"Current",
                     [](UpdateFlow& t) {
                         t.installBuild("1.4.0");
                         t.publish("1.4.0", buildArchive());
                     },
                     "Ready to deploy.", 1.0, "PLAY", true, upToDate, themeGreen},
        // The install root does not exist yet: the run creates it before downloading.
        EndStateCase{"FirstInstall", [](UpdateFlow& t) { t.publish("1.4.0", buildArchive()); },
                     "Ready to deploy.", 1.0, "PLAY  v1.4.0", true, updated, themeGreen},
        EndStateCase{"Update",
                     [](UpdateFlow& t) {
                         t.installBuild("1.3.9");
                         t.publish("1.4.0", buildArchive());
                     },
                     "Ready to deploy.", 1.0, "PLAY  v1.4.0", true, updated, themeGreen},
        EndStateCase{"SameVersionButBundleDeleted",
                     [](UpdateFlow& t) {
                         writeFile(t.root() / "installed.txt", "1.4.0");
                         t.publish("1.4.0", buildArchive());
                     },
                     "Ready to deploy.", 1.0, "PLAY  v1.4.0", true, updated, themeGreen},
        EndStateCase{"ArchiveMissingWithABuild",
                     [](UpdateFlow& t) {
                         t.installBuild("1.3.9");
                         t.publish("1.4.0", buildArchive());
                         t.server.serve("/build.zip", "Not Found", 404);
                     },
                     offlineStatus, 1.0, "PLAY  v1.3.9", true, offline, themeAmber},
        EndStateCase{"BundleWithoutItsExecutableWithABuild",
                     [](UpdateFlow& t) {
                         t.installBuild("1.3.9");
                         t.publish("1.4.0", ZipBuilder().folder("Ashenmarch.app").bytes());
                     },
                     offlineStatus, 1.0, "PLAY  v1.3.9", true, offline, themeAmber},
        EndStateCase{"EmptyUrlWithABuild",
                     [](UpdateFlow& t) {
                         t.installBuild("1.3.9");
                         t.server.serve("/latest.txt", "version = 1.4.0\n");
                     },
                     offlineStatus, 1.0, "PLAY  v1.3.9", true, offline, themeAmber},
        EndStateCase{"EmptyUrlNothingInstalled",
                     [](UpdateFlow& t) { t.server.serve("/latest.txt", "version = 1.4.0\n"); },
                     "Could not fetch the build.\nmanifest has no macurl", 0.0, "PLAY", false,
                     "Installed —   ·   Latest v1.4.0   ·   error", themeRed},
        EndStateCase{"ErrorPageForTheManifest",
                     [](UpdateFlow& t) {
                         t.server.serve("/latest.txt", "<h1>Not Found</h1>", 404, "text/html");
                     },
                     "Could not fetch the build.\nmanifest has no macurl", 0.0, "PLAY", false,
                     "Installed —   ·   Latest —   ·   error", themeRed},
        // Unpacked and found wanting after the download: the button still says
        // so.
        EndStateCase{"WrongBundleNothingInstalled",
                     [](UpdateFlow& t) { t.publish("1.4.0", buildArchive("Other.app")); },
                     "Could not fetch the build.\ndownload did not contain "
                     "Ashenmarch.app",
                     1.0, "DOWNLOADING…", false, "Installed —   ·   Latest v1.4.0   ·   error",
                     themeRed},
        // Refused before anything is stored or downloaded: the latest version
        // stays unknown.
        EndStateCase{"UnsafeBundleName",
                     [](UpdateFlow& t) { t.publish("1.4.0", buildArchive(), "../../elsewhere"); },
                     "Could not fetch the build.\nmanifest has an unsafe macexe", 0.0, "PLAY",
                     false, "Installed —   ·   Latest —   ·   error", themeRed}),
    [](const testing::TestParamInfo<EndStateCase>& info) { return std::string(info.param.name); });

// The window keeps the manifest it installed from: PLAY finds the bundle through it.
TEST_F(UpdateFlow, InstallsTheNewBuildAndKeepsItsManifest) {
    installBuild("1.3.9");
    publish("1.4.0", buildArchive());
    runOnce();

    EXPECT_EQ(readFile(root() / "installed.txt"), "1.4.0");
    EXPECT_EQ(launcher.manifest()->url, server.url("/build.zip"));
}

TEST_F(UpdateFlow, AFailedUpdateStoresTheFallbackManifest) {
    installBuild("1.3.9", "the old game");
    publish("1.4.0", buildArchive("Other.app"));
    runOnce();

    EXPECT_EQ(shown().status, offlineStatus);
    Manifest fallback;
    fallback.version = "1.3.9";
    EXPECT_EQ(launcher.manifest(), fallback);
}

TEST_F(UpdateFlow, ManifestHostDownAtFirstStartSaysSoInAPlayersWords) {
    std::string unreachable;
    {
        const LoopbackServer gone;
        unreachable = gone.url("/latest.txt");
    }
    controller =
        newController(loopbackTransferOptions(), ReleaseEndpoints{unreachable, unreachable});
    runOnce();

    const Shown seen = shown();
    EXPECT_EQ(seen.status, "Could not fetch the build.\nCannot reach 127.0.0.1 — check your "
                           "internet connection.");
    EXPECT_EQ(seen.versionLine, "Installed —   ·   Latest —   ·   error");
    EXPECT_EQ(seen.playTitle, "PLAY");
    EXPECT_FALSE(seen.playEnabled);
    EXPECT_EQ(view<QTextEdit>("changelogText").toPlainText(), "");
    EXPECT_EQ(view<QLabel>("notesLabel").text(), "");
}

// Whether it could not be fetched or held nothing (the run's tests show both come as no entries).
TEST_F(UpdateFlow, AChangelogThatCannotBeFetchedIsShownAsUnavailable) {
    installBuild("1.4.0");
    publish("1.4.0", buildArchive());
    server.serve("/changelog.txt", "", 404);
    runOnce();

    EXPECT_EQ(shown().status, "Ready to deploy.");
    EXPECT_EQ(view<QTextEdit>("changelogText").toPlainText(),
              "Changelog unavailable — check your connection.");
    EXPECT_EQ(view<QLabel>("notesLabel").text(), "No release notes available.");
}

TEST_F(UpdateFlow, ShowsTheChangelogAndTheNewestNotes) {
    installBuild("1.4.0");
    publish("1.4.0", buildArchive());
    runOnce();

    EXPECT_EQ(view<QLabel>("notesLabel").text(), "v1.4.0   2026-12-06\n\n+  New biome\n");
    EXPECT_TRUE(view<QTextEdit>("changelogText").toPlainText().startsWith("v1.4.0\n2026-12-06"));
}

// Records the statuses and fractions a run shows, each as it comes; everything else is dropped.
class RecordingView : public UpdateFlowView {
public:
    void setStatus(std::string text) override { statuses.push_back(std::move(text)); }
    void setProgress(double fraction) override { fractions.push_back(fraction); }
    void showReleaseText(Changelog) override {}
    void showPlayButton(std::string, bool) override {}
    void showPlayable(std::string, std::string) override {}
    void showVersionState(std::string) override {}
    void storeManifest(Manifest) override {}

    std::vector<std::string> statuses;
    std::vector<double> fractions;
};

TEST_F(UpdateFlow, ProgressFollowsTheDownloadOnlyWhenItsLengthIsKnown) {
    const std::string archive = buildArchive("Ashenmarch.app", std::string(1 << 20, 'x'));
    for (const bool announced : {true, false}) {
        publish("1.4.0", archive);
        if (!announced) {
            server.serveChunked("/build.zip", archive);
        }
        // The run reports every fraction to its view (the window applies the latest of those
        // still waiting, see the main-thread hop tests).
        RecordingView recorder;
        runUpdateFlow(recorder, layout, endpoints(), loopbackTransferOptions());
        ASSERT_FALSE(recorder.fractions.empty());
        EXPECT_EQ(recorder.fractions.back(), 1.0);
        if (announced) {
            EXPECT_GT(recorder.fractions.size(), 2u) << "one report per progress event";
            EXPECT_TRUE(std::is_sorted(recorder.fractions.begin(), recorder.fractions.end()));
        } else {
            EXPECT_EQ(recorder.fractions.size(), 1u) << "untouched until the install begins";
        }
        fs::remove_all(root());
    }
}

TEST_F(UpdateFlow, ALostConnectionShowsUntilBytesFlowAgain) {
    publish("1.4.0", buildArchive());
    server.serveFile("/build.zip", {{.status = 503}, {.status = 503}, {.body = buildArchive()}});
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
    options.retryDelays = {std::chrono::milliseconds(10), std::chrono::milliseconds(10)};
    RecordingView recorder;
    runUpdateFlow(recorder, layout, endpoints(), options);

    EXPECT_EQ(recorder.statuses, (std::vector<std::string>{
                                     "Checking for updates…",
                                     "Downloading v1.4.0  (1 MB)…",
                                     "Connection lost — retrying (2 of 3)…",
                                     "Connection lost — retrying (3 of 3)…",
                                     "Downloading v1.4.0  (1 MB)…",
                                     "Installing v1.4.0…",
                                     "Ready to deploy.",
                                 }));
}

// A patch names its own size; when it cannot be had, the status says why before the whole
// archive comes.
TEST_F(UpdateFlow, TheStatusNamesWhatIsFetchedAndWhyNoPatch) {
    const auto game = [](const std::string& version) {
        ZipBuilder zip;
        zip.file("Ashenmarch.app/" + bundleExecutable.string(), "game " + version, 0755);
        for (std::uint32_t pack = 0; pack < 4; ++pack) {
            zip.file("Ashenmarch.app/pack" + std::to_string(pack), noise(1 << 20, pack));
        }
        return zip;
    };
    // The statuses of one run, without the detail lines that come once a download takes a while.
    const auto statusesOfARun = [this] {
        RecordingView recorder;
        runUpdateFlow(recorder, layout, endpoints(), loopbackTransferOptions());
        std::erase_if(recorder.statuses,
                      [](const std::string& text) { return text.find(" MB/s") != text.npos; });
        return recorder.statuses;
    };
    PatchRelease(server, "1.0", game("1.0"));
    statusesOfARun();
    const PatchRelease two(server, "2.0", game("2.0"));
    server.serveFile("/build.zip", {{.body = two.archive, .honourRange = false}});
    EXPECT_EQ(
        statusesOfARun(),
        (std::vector<std::string>{
            "Checking for updates…", "Downloading v2.0  (0 MB)…",
            "Downloading v2.0  (4 MB)…\nfull download: the host does not serve parts of files",
            "Installing v2.0…", "Ready to deploy."}));
}

TEST_F(UpdateFlow, ADownloadFailingHalfWayLeavesTheButtonDownloading) {
    publish("1.4.0", buildArchive());
    server.serveFile("/build.zip", {{.body = std::string(4000, 'x'), .cutAt = 1000}});
    runOnce();

    const Shown seen = shown();
    EXPECT_TRUE(seen.status.startsWith("Could not fetch the build.\n"));
    EXPECT_GT(seen.status.size(), QString("Could not fetch the build.\n").size());
    EXPECT_EQ(seen.playTitle, "DOWNLOADING…");
    EXPECT_FALSE(seen.playEnabled);
    EXPECT_NEAR(seen.progress, 0.25, 0.01); // the last fraction shown stays
    EXPECT_EQ(seen.versionLine, "Installed —   ·   Latest v1.4.0   ·   error");
    EXPECT_FALSE(fs::exists(root() / "installed.txt"));
}

TEST_F(UpdateFlow, RunsNeverOverlap) {
    publish("1.4.0", buildArchive());
    server.serveFile(
        "/build.zip",
        {{.body = std::string(200, 'x'), .cutAt = 100, .holdAtCut = std::chrono::seconds(5)}});
    controller->recheck();
    controller->recheck(); // within the same millisecond
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return view<QLabel>("statusLabel").text().startsWith("Downloading"); }, 10'000));
    controller->recheck(); // during the download
    waitForRunEnd();

    EXPECT_EQ(server.requestsFor("/latest.txt"), 1);
    EXPECT_EQ(server.requestsFor("/build.zip"), 1);

    controller->recheck(); // idle again: a new run
    waitForRunEnd();
    EXPECT_EQ(server.requestsFor("/latest.txt"), 2);
}

TEST_F(UpdateFlow, ClosingTheWindowDuringAStalledDownloadEndsPromptly) {
    publish("1.4.0", buildArchive());
    server.serveFile(
        "/build.zip",
        {{.body = std::string(200, 'x'), .cutAt = 100, .holdAtCut = std::chrono::seconds(120)}});
    Core::Transfer::TransferOptions patient = loopbackTransferOptions();
    patient.idleTimeout = std::chrono::seconds(120);
    controller = newController(patient);
    controller->recheck();
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return view<QLabel>("statusLabel").text().startsWith("Downloading"); }, 10'000));

    const auto start = std::chrono::steady_clock::now();
    QApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, launcher.widget(), &QWidget::close);
    EXPECT_EQ(runEventLoop(std::chrono::seconds(60), 1),
              0); // rather fail than hang
    controller.reset();

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(fs::exists(root() / "update.zip"));
    EXPECT_FALSE(fs::exists(root() / "installed.txt"));
}

// A game that leaves a mark in its folder and ends.
const std::string markingGame = "#!/bin/sh\n: > started.txt\n";

TEST_F(UpdateFlow, PlayStartsAPresentBuildAndQuits) {
    const fs::path game = root() / "build/Ashenmarch.app" / bundleExecutable;
    writeFile(game, markingGame);
    fs::permissions(game, fs::perms::owner_all);
    launcher.storeManifest(Manifest::parse("version=1.4.0"));

    EXPECT_EQ(pressPlay(), 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return fs::exists(game.parent_path() / "started.txt"); }, 10'000));
}

TEST_F(UpdateFlow, PlayStaysOpenAndSaysWhyWhenTheGameCannotStart) {
    const fs::path game = root() / "build/Ashenmarch.app" / bundleExecutable;
    const std::vector<std::tuple<const char*, std::function<void()>, QString>> cases = {
        {"no manifest yet", [] {}, "Checking for updates…"},
        {"build deleted", [this] { launcher.storeManifest(Manifest::parse("version=1.4.0")); },
         "Nothing installed yet — check your connection and press 'check again'."},
        {"not executable", [&] { writeFile(game, markingGame); },
         "Could not start the game.\nASHENMARCH: Permission denied"},
    };
    for (const auto& [what, arrange, status] : cases) {
        arrange();
        EXPECT_EQ(pressPlay(), 7) << what;
        EXPECT_EQ(shown().status, status) << what;
    }
}

TEST(DownloadingStatus, ShowsWholeMebibytesOnlyForAPositiveSize) {
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {0, "Downloading v1.4.0…"},
        {524'287, "Downloading v1.4.0  (0 MB)…"},
        {1'048'576, "Downloading v1.4.0  (1 MB)…"},
        {157'286'400, "Downloading v1.4.0  (150 MB)…"},
    };
    for (const auto& [size, status] : cases) {
        EXPECT_EQ(downloadingStatus("1.4.0", size), status) << size;
    }
}

} // namespace
