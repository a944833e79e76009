// The launcher built against http://127.0.0.1:AM_E2E_PORT, run as a player's machine would run
// it: as an unprivileged user, so that file modes bind.
#include "support/LoopbackServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::unique_ptr<Subprocess> selfCheck(const fs::path& root,
                                      std::vector<std::string> arguments = {"--cli"}) {
    return startUnprivileged(AM_LAUNCHER_EXE, std::move(arguments),
                             {{"AM_INSTALL_DIR", root.string()}});
}

// A download killed half-way leaves what it held for the next run, which continues it, ends with
// PASS and exit status 0, and leaves no archive behind.
TEST(SelfCheckProcess, AKilledRunIsContinuedByTheNextWhichPassesAndCleansUp) {
    TempDir dir;
    const fs::path root = dir / "install";
    handToUnprivilegedUser(dir.path());
    LoopbackServer server{AM_E2E_PORT};
    const std::string archive =
        ZipBuilder().file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "#!/bin/sh\n", 0755).bytes();
    const std::size_t half = archive.size() / 2;
    server.serveFile(
        "/build.zip",
        {{.body = archive, .etag = "\"2.0\"", .cutAt = half, .holdAtCut = std::chrono::minutes(1)},
         {.body = archive, .etag = "\"2.0\""}});
    server.serve("/latest.txt", "version=2.0\nmacurl=" + server.url("/build.zip") + "\n");
    server.serve("/changelog.txt", "## 2.0\n+ Everything\n");

    const auto killed = selfCheck(root);
    std::error_code none;
    for (int i = 0; i < 500 && fs::file_size(root / "update.zip.part", none) != half; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(fs::file_size(root / "update.zip.part", none), half);
    killed->kill(SIGKILL);
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);

    const auto next = selfCheck(root, {"ignored", "--cli", "--verbose"});
    EXPECT_EQ(next->wait(), 0);
    EXPECT_TRUE(next->standardOutput().ends_with("re-extract   : ok\nPASS\n"))
        << next->standardOutput();
    EXPECT_EQ(next->standardError(), "");
    EXPECT_EQ(server.requests().back().header("Range"), "bytes=" + std::to_string(half) + "-");
    EXPECT_EQ(readFile(root / "installed.txt"), "2.0");
    EXPECT_FALSE(fs::exists(root / "update.zip"));
}

} // namespace
