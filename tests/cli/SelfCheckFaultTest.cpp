// The real executable on a full disk: a small tmpfs in a private mount namespace (unshare -Urm)
// stands in for it. Where namespaces are not allowed the test skips.
#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Mounts a 2 MiB tmpfs on the install root, fills it from $SEED, lets the file $FILL (when
// named) take every byte left, runs the self-check, and copies what it left to $AFTER (the tmpfs
// goes away with the namespace).
const char* const onSmallDisk = R"(
mount -t tmpfs -o size=2m tmpfs "$AM_INSTALL_DIR" && cp -a "$SEED/." "$AM_INSTALL_DIR/" || exit 99
[ -z "$FILL" ] || cat /dev/zero 2>/dev/null >"$AM_INSTALL_DIR/$FILL"
"$LAUNCHER" --cli
status=$?
cp -a "$AM_INSTALL_DIR/." "$AFTER/"
exit $status
)";

TEST(SelfCheckFaults, AFullDiskEndsInAClearErrorAndKeepsThePreviousBuild) {
    const TempDir dir;
    const fs::path root = dir / "install", seed = dir / "seed", after = dir / "after";
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
        fs::remove_all(after);
        fs::remove_all(seed);
        for (const fs::path& folder : {seed, root}) {
            writeFile(folder / "build" / gameFile, "game 1.0");
            writeFile(folder / "installed.txt", "1.0");
        }
        fs::create_directories(after);
        if (row.partialFillsDisk) {
            writeFile(seed / "update.zip.part.meta",
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
                        {{"AM_INSTALL_DIR", root.string()},
                         {"SEED", seed.string()},
                         {"AFTER", after.string()},
                         {"FILL", row.partialFillsDisk ? "update.zip.part" : ""},
                         {"LAUNCHER", AM_LAUNCHER_EXE}});
        const int status = self.wait();
        std::string output = self.standardOutput();
        if (status == 99 || (status != 0 && output.empty())) {
            GTEST_SKIP() << "no private mount namespace here";
        }
        output.pop_back();
        const std::string last = output.substr(output.rfind('\n') + 1);
        EXPECT_EQ(status, row.failure ? 1 : 0) << last;
        EXPECT_TRUE(last.starts_with(row.failure ? row.failure : "PASS")) << last;
        // A failed unpacking keeps the archive for the next attempt; nothing else may stay, not
        // even a partial download, which would only take the space the next run needs.
        fs::remove(after / "update.zip");
        const char* version = row.failure ? "1.0" : "2.0";
        expectOneSettledBuild(after, version, std::string("game ") + version);
    }
}

} // namespace
