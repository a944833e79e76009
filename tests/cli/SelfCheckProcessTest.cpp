// The self-check as a process of its own: the launcher built against http://127.0.0.1:AM_E2E_PORT,
// killed half-way, or run on a full disk.
#include "support/InterruptedUpdate.h"
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

// Run as an unprivileged user, so that file modes bind. A download killed half-way leaves what it
// held for the next run, which continues it, ends with PASS and exit status 0, and leaves no
// archive behind.
TEST(SelfCheckProcess, AKilledRunIsContinuedByTheNextWhichPassesAndCleansUp) {
    TempDir dir;
    const fs::path root = dir / "install";
    handToUnprivilegedUser(dir.path());
    LoopbackServer server{AM_E2E_PORT};
    const std::string archive = ZipBuilder().file(gameFile, "#!/bin/sh\n", 0755).bytes();
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

// The real executable on a full disk: a small tmpfs in a private mount namespace (unshare -Urm)
// stands in for it. Where namespaces are not allowed the test skips.
//
// Mounts a 2 MiB tmpfs on $DIR/install (made here, with $DIR/after), fills it from $DIR/seed, lets
// a partial download there take every byte left, runs the self-check, and copies what it left to
// $DIR/after (the tmpfs goes away with the namespace).
const char* const onSmallDisk = R"(
export AM_INSTALL_DIR="$DIR/install" && mkdir -p "$AM_INSTALL_DIR" "$DIR/after" || exit 99
mount -t tmpfs -o size=2m tmpfs "$AM_INSTALL_DIR" && cd "$AM_INSTALL_DIR" &&
    cp -a "$DIR/seed/." . || exit 99
[ ! -e update.zip.part.meta ] || cat /dev/zero 2>/dev/null >update.zip.part
"$LAUNCHER" --cli
status=$?
cp -a . "$DIR/after/"
exit $status
)";

TEST(SelfCheckFaults, AFullDiskEndsInAClearErrorAndKeepsThePreviousBuild) {
    const TempDir dir;
    LoopbackServer server{AM_E2E_PORT};
    ZipBuilder manySmallFiles;
    manySmallFiles.file(gameFile, "game 2.0", 0755);
    for (int i = 0; i < 1000; ++i) {
        manySmallFiles.file("Ashenmarch.app/Contents/Resources/" + std::to_string(i), "x");
    }
    const struct {
        const char* when;
        std::string archive;
        const char* failure;   // how the last line begins; nullptr: the update succeeds
        bool partialFillsDisk; // a partial download of an earlier run took every byte left
    } rows[] = {
        // 3 MiB stored uncompressed, of a size told nowhere: the download itself is stopped.
        {"downloading",
         ZipBuilder().uncompressed().file(gameFile, std::string(3 << 20, 'x')).bytes(),
         "FAIL: Error Domain=am Code=9 \"not enough disk space: ", false},
        // The entries declare 8 MiB; the check before unpacking refuses them.
        {"about to unpack", ZipBuilder().file(gameFile, std::string(8 << 20, '\0')).bytes(),
         "FAIL: Error Domain=am Code=9 \"not enough disk space: 8 MB needed, 1 MB free\"", false},
        // A few bytes declared, but each file takes a whole page: room runs out while unpacking.
        {"unpacking", manySmallFiles.bytes(), "FAIL: Error Domain=am Code=2 ", false},
        // Its space is the new download's to take (the size is told, so the room is checked).
        {"after a partial download filled it",
         ZipBuilder().file(gameFile, "game 2.0", 0755).bytes(), nullptr, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.when);
        const fs::path base = dir / row.when;
        writeFile(base / "seed/build" / gameFile, "game 1.0");
        writeFile(base / "seed/installed.txt", "1.0");
        if (row.partialFillsDisk) {
            writeFile(base / "seed/update.zip.part.meta",
                      "address=" + server.url("/build.zip") + "\nvalidator=\"1.9\"\nlength=0\n");
        }
        // With an ETag, so that a download cut short could be continued; no length.
        server.serveChunked("/build.zip", row.archive, "\"2.0\"");
        server.serve("/latest.txt",
                     "version=2.0\nmacurl=" + server.url("/build.zip") + "\n" +
                         (row.partialFillsDisk
                              ? "macsize=" + std::to_string(row.archive.size()) + "\n"
                              : ""));
        server.serve("/changelog.txt", "## 2.0\n");
        Subprocess self("/usr/bin/unshare", {"-Urm", "/bin/sh", "-c", onSmallDisk},
                        {{"DIR", base.string()}, {"LAUNCHER", AM_LAUNCHER_EXE}});
        const int status = self.wait();
        const std::string output = self.standardOutput();
        if (status == 99 || (status != 0 && output.empty())) {
            GTEST_SKIP() << "no private mount namespace here";
        }
        // The last line, with its line end.
        const std::string last = output.substr(output.rfind('\n', output.size() - 2) + 1);
        EXPECT_EQ(status, row.failure ? 1 : 0) << last;
        EXPECT_TRUE(last.starts_with(row.failure ? row.failure : "PASS")) << last;
        // A failed unpacking keeps the archive for the next attempt; nothing else may stay, not
        // even a partial download, which would only take the space the next run needs.
        fs::remove(base / "after/update.zip");
        const char* version = row.failure ? "1.0" : "2.0";
        expectOneSettledBuild(base / "after", version, std::string("game ") + version);
    }
}

} // namespace
