#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "ui/UpdateFlow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records the status texts a run shows, in order; ignores the rest of the window.
class StatusRecorder final : public UpdateFlowView {
public:
    void setStatus(std::string text) override { statuses.push_back(std::move(text)); }
    void setProgress(double) override {}
    void showReleaseText(std::vector<ChangelogEntry>) override {}
    void showPlayButton(std::string, bool) override {}
    void showPlayable(std::string, std::string) override {}
    void showVersionState(std::string) override {}
    void storeManifest(Manifest) override {}

    std::vector<std::string> statuses;
};

TEST(DownloadFeedback, ALostConnectionShowsUntilBytesFlowAgain) {
    TempDir temp;
    const std::string root = (temp / "install").string();
    ScopedEnv installDir("AM_INSTALL_DIR", root.c_str());
    LoopbackServer server;
    const std::string archive =
        ZipBuilder().file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "#!/bin/sh\n", 0755).bytes();
    server.serve("/latest.txt", "version=2.0\nmacurl=" + server.url("/build.zip") + "\n");
    server.serveFile("/build.zip", {{.status = 503}, {.status = 503}, {.body = archive}});
    TransferOptions options = loopbackTransferOptions();
    options.retryDelays = {std::chrono::milliseconds(10), std::chrono::milliseconds(10)};

    StatusRecorder view;
    runUpdateFlow(view, {server.url("/latest.txt"), server.url("/changelog.txt")}, options);

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

} // namespace
