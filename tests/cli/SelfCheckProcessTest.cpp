#include "support/LoopbackServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The launcher built against http://127.0.0.1:AM_E2E_PORT, run as a player's machine would.
class SelfCheckProcess : public ::testing::Test {
protected:
    TempDir dir;
    fs::path root = dir / "install";
    LoopbackServer server{AM_E2E_PORT};
    std::string archive =
        ZipBuilder().file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "#!/bin/sh\n", 0755).bytes();

    void publish() {
        server.serve("/build.zip", archive);
        server.serve("/latest.txt", "version=2.0\nmacurl=" + server.url("/build.zip") + "\n");
        server.serve("/changelog.txt", "## 2.0\n+ Everything\n");
    }

    std::unique_ptr<Subprocess> start(std::vector<std::string> arguments = {"--cli"}) {
        return std::make_unique<Subprocess>(
            AM_LAUNCHER_EXE, arguments,
            std::vector<std::pair<std::string, std::string>>{{"AM_INSTALL_DIR", root.string()}});
    }

    fs::path partialDownload() const { return root / "update.zip.part"; }
    bool partialDownloadExists() const { return fs::exists(partialDownload()); }

    std::optional<std::string> rangeOfLastArchiveRequest() const {
        std::optional<std::string> range;
        for (const RecordedRequest& request : server.requests()) {
            if (request.path == "/build.zip") {
                range = request.header("Range");
            }
        }
        return range;
    }
};

TEST_F(SelfCheckProcess, ExitStatusFollowsTheLastLineAndNothingGoesToStandardError) {
    publish();
    auto pass = start({"ignored", "--cli", "--verbose"});
    EXPECT_EQ(pass->wait(), 0);
    EXPECT_TRUE(pass->standardOutput().ends_with("re-extract   : ok\nPASS\n"))
        << pass->standardOutput();
    EXPECT_EQ(pass->standardError(), "");

    server.serve("/latest.txt", "");
    auto fail = start();
    EXPECT_EQ(fail->wait(), 1);
    EXPECT_TRUE(fail->standardOutput().ends_with("FAIL: manifest has no version/url\n"));
    EXPECT_EQ(fail->standardError(), "");
}

TEST_F(SelfCheckProcess, ARunKilledMidDownloadIsFollowedByAPassingRun) {
    publish();
    server.stall("/build.zip", std::chrono::minutes(1), archive.substr(0, archive.size() / 2));
    auto killed = start();
    for (int i = 0; i < 500 && !partialDownloadExists(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(partialDownloadExists());
    killed->kill(SIGKILL);
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);

    server.serve("/build.zip", archive);
    auto next = start();
    EXPECT_EQ(next->wait(), 0) << next->standardOutput();
    EXPECT_FALSE(partialDownloadExists());
    EXPECT_EQ(readFile(root / "installed.txt"), "2.0");
    EXPECT_TRUE(fs::exists(root / "build/Ashenmarch.app/Contents/MacOS/ASHENMARCH"));
}

TEST_F(SelfCheckProcess, ADownloadKilledHalfWayIsContinuedByTheNextRun) {
    publish();
    const std::size_t half = archive.size() / 2;
    server.serveFile(
        "/build.zip",
        {{.body = archive, .etag = "\"2.0\"", .cutAt = half, .holdAtCut = std::chrono::minutes(1)},
         {.body = archive, .etag = "\"2.0\""}});
    auto killed = start();
    std::error_code noFile;
    for (int i = 0; i < 500 && fs::file_size(partialDownload(), noFile) != half; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(fs::file_size(partialDownload(), noFile), half);
    killed->kill(SIGKILL);
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);

    const std::int64_t sentBefore = server.fileBytesSent();
    auto next = start();
    EXPECT_EQ(next->wait(), 0) << next->standardOutput();
    EXPECT_TRUE(next->standardOutput().ends_with("re-extract   : ok\nPASS\n"))
        << next->standardOutput();
    EXPECT_EQ(rangeOfLastArchiveRequest(), "bytes=" + std::to_string(half) + "-");
    EXPECT_EQ(server.fileBytesSent() - sentBefore,
              static_cast<std::int64_t>(archive.size() - half));
    EXPECT_FALSE(partialDownloadExists());
    EXPECT_EQ(readFile(root / "installed.txt"), "2.0");
}

} // namespace
