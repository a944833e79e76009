#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
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

    void publish(const std::string& version = "2.0") {
        server.serve("/build.zip", archive);
        server.serve("/latest.txt",
                     "version=" + version + "\nmacurl=" + server.url("/build.zip") + "\n");
        server.serve("/changelog.txt", "## 2.0\n+ Everything\n");
    }

    SelfCheckProcess() { handToUnprivilegedUser(dir.path()); }

    // As a player runs it: file modes bind.
    std::unique_ptr<Subprocess> start(std::vector<std::string> arguments = {"--cli"}) {
        return startUnprivileged(AM_LAUNCHER_EXE, arguments, {{"AM_INSTALL_DIR", root.string()}});
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
    EXPECT_TRUE(fs::exists(root / "build/Ashenmarch.app/Contents/MacOS/ASHENMARCH"));
}

// Many small files, so that unpacking (twice per run) takes a good share of a run, and a
// read-only folder, which each run unpacks over and the next one removes.
std::string manySmallFiles(const std::string& version, int count) {
    ZipBuilder zip;
    zip.file(gameFile, "game " + version, 0755);
    zip.folder("Ashenmarch.app/Contents/Sealed/", 0555)
        .file("Ashenmarch.app/Contents/Sealed/a", "");
    for (int i = 0; i < count; ++i) {
        zip.file("Ashenmarch.app/Contents/Resources/" + std::to_string(i) + ".dat",
                 version + " part " + std::to_string(i));
    }
    return zip.bytes();
}

TEST_F(SelfCheckProcess, RunsKilledAtRandomPointsAreFollowedByAPassingRun) {
    constexpr int files = 300;
    archive = manySmallFiles("1.0", files);
    publish("1.0");
    const auto began = std::chrono::steady_clock::now();
    auto first = start();
    ASSERT_EQ(first->wait(), 0) << first->standardOutput();
    const auto wholeRun = std::chrono::steady_clock::now() - began;

    std::mt19937 random(20261206);
    std::uniform_int_distribution<std::int64_t> delay(
        0, std::chrono::duration_cast<std::chrono::microseconds>(wholeRun).count());
    for (int round = 1; round <= 8; ++round) {
        const std::string version = "1." + std::to_string(round);
        SCOPED_TRACE(version);
        archive = manySmallFiles(version, files);
        publish(version);
        auto killed = start();
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        killed->kill(SIGKILL);
        killed->wait();

        auto next = start();
        ASSERT_EQ(next->wait(), 0) << next->standardOutput();
        expectOneSettledBuild(root, version, "game " + version);
        const auto resources = root / "build/Ashenmarch.app/Contents/Resources";
        EXPECT_EQ(std::distance(fs::directory_iterator(resources), fs::directory_iterator()),
                  files);
        EXPECT_EQ(readFile(resources / "7.dat"), version + " part 7");
    }
}

} // namespace
