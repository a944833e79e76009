// The update run's safeguards, driven without a window: signed releases, the install lock,
// retries and recovery from a crash.
#include "core/install/InstallLock.h"
#include "core/trust/Sha256.h"
#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestKeyPair.h"
#include "support/ZipBuilder.h"
#include "ui/UpdateFlow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Keeps what the run shows last, and every status in order.
class RecordingView final : public UpdateFlowView {
public:
    void setStatus(std::string text) override {
        statuses.push_back(text);
        status = std::move(text);
    }
    void setProgress(double) override {}
    void showReleaseText(std::vector<ChangelogEntry>) override {}
    void showPlayButton(std::string title, bool) override { playTitle = std::move(title); }
    void showPlayable(std::string title, std::string endState) override {
        playTitle = std::move(title);
        state = std::move(endState);
    }
    void showVersionState(std::string endState) override { state = std::move(endState); }
    void storeManifest(Manifest) override {}

    std::vector<std::string> statuses;
    std::string status;
    std::string playTitle;
    std::string state;
};

const std::string failedStatus = "Update check failed — playing installed v1.0.";

class UpdateFlowSafety : public ::testing::Test {
protected:
    TempDir dir;
    fs::path root = dir / "install";
    Core::Install::InstallLayout layout{root};
    LoopbackServer server;
    std::string archive = ZipBuilder().file(gameFile, "game 2.0", 0755).bytes();
    RecordingView view;

    // Publishes 2.0 and returns the manifest's text; `extra` holds more manifest lines.
    std::string publish(const std::string& extra = {}) {
        const std::string manifest =
            "version=2.0\nmacurl=" + server.url("/build.zip") + "\n" + extra;
        server.serve("/latest.txt", manifest);
        server.serve("/changelog.txt", "## 2.0\n");
        server.serve("/build.zip", archive);
        return manifest;
    }

    std::string checksumLine() const {
        Core::Trust::Sha256 hash;
        hash.update(archive);
        return "macsha256=" + hash.hexDigest() + "\n";
    }

    void installOld() {
        writeFile(root / "build" / gameFile, "game 1.0");
        writeFile(root / "installed.txt", "1.0");
    }

    void run(const Core::Trust::ReleaseKeys& keys = {}) {
        runUpdateFlow(view, layout, {server.url("/latest.txt"), server.url("/changelog.txt")},
                      loopbackTransferOptions(), keys);
    }
};

TEST_F(UpdateFlowSafety, ASignedReleaseIsInstalled) {
    const TestKeyPair studio;
    server.serve("/latest.txt.sig", studio.sign(publish(checksumLine())));
    run(studio.keys());
    EXPECT_EQ(view.state, "UPDATED");
    expectOneSettledBuild(root, "2.0", "game 2.0");
}

TEST_F(UpdateFlowSafety, RefusalsBeforeAnythingIsWrittenNameTheReason) {
    const TestKeyPair studio;
    struct Case {
        const char* name;
        std::string manifestExtra;
        Core::Trust::ReleaseKeys keys;
        bool otherLauncherAtWork; // holds the lock, half-way through unpacking
        const char* reason;
    };
    const Case cases[] = {
        {"unsigned release, signing build", checksumLine(), studio.keys(), false,
         "release signature is not valid"},
        {"another launcher updating", "", {}, true, "another launcher is updating this install"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        publish(c.manifestExtra);
        std::optional<Core::Install::InstallLock> otherLauncher;
        if (c.otherLauncherAtWork) {
            writeFile(root / "build.staging" / gameFile, "the other launcher's work");
            otherLauncher.emplace(Core::Install::InstallLayout{root});
        }
        run(c.keys);
        EXPECT_EQ(view.state, "ERROR");
        EXPECT_TRUE(view.status.starts_with(std::string("Could not fetch the build.\n") + c.reason))
            << view.status;
        EXPECT_EQ(server.requestsFor("/build.zip"), 0);
        EXPECT_FALSE(fs::exists(root / "installed.txt"));
        if (otherLauncher) {
            EXPECT_EQ(readFile(root / "build.staging" / gameFile), "the other launcher's work");
        }
        fs::remove_all(root);
    }
}

TEST_F(UpdateFlowSafety, AnInstalledBuildStaysPlayableWhileAnotherLauncherUpdates) {
    installOld();
    publish();
    const Core::Install::InstallLock otherLauncher({root});
    run();
    EXPECT_EQ(view.state, "OFFLINE");
    EXPECT_EQ(view.playTitle, "PLAY  v1.0");
    EXPECT_EQ(view.status, failedStatus);
    EXPECT_EQ(server.requestsFor("/build.zip"), 0);
}

TEST_F(UpdateFlowSafety, ALostConnectionShowsUntilBytesFlowAgain) {
    publish();
    server.serveFile("/build.zip", {{.status = 503}, {.status = 503}, {.body = archive}});
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
    options.retryDelays = {std::chrono::milliseconds(10), std::chrono::milliseconds(10)};
    runUpdateFlow(view, layout, {server.url("/latest.txt"), server.url("/changelog.txt")}, options);

    EXPECT_EQ(view.statuses, (std::vector<std::string>{
                                 "Checking for updates…",
                                 "Downloading v2.0…",
                                 "Connection lost — retrying (2 of 3)…",
                                 "Connection lost — retrying (3 of 3)…",
                                 "Downloading v2.0…",
                                 "Installing v2.0…",
                                 "Ready to deploy.",
                             }));
}

class UpdateFlowAfterACrash : public UpdateFlowSafety,
                              public ::testing::WithParamInterface<Interruption> {};

// Recovery comes before the version check: a crash after the swap needs no second download.
TEST_P(UpdateFlowAfterACrash, EndsWithOneCompleteBuildWhoseMarkerMatches) {
    const Interruption& state = GetParam();
    leaveInterruptedUpdate(state, root);
    publish();
    run();
    const bool alreadyNew = std::string(state.recoveredVersion) == "2.0";
    EXPECT_EQ(view.state, alreadyNew ? "UP TO DATE" : "UPDATED");
    EXPECT_EQ(server.requestsFor("/build.zip"), alreadyNew ? 0 : 1);
    expectOneSettledBuild(root, "2.0", "game 2.0");
}

INSTANTIATE_TEST_SUITE_P(EveryStep, UpdateFlowAfterACrash, ::testing::ValuesIn(everyInterruption()),
                         [](const auto& info) { return interruptionName(info.param); });

} // namespace
