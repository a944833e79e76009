// The real executable on a full disk and on a read-only install root. Both need a private mount
// namespace (unshare -Urm): a small tmpfs stands in for a full disk, a read-only bind mount for
// an install root that cannot be written (as root, file permissions would not stop anything).
// Where namespaces are not allowed the tests skip.
#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <optional>

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

const char* const onReadOnlyRoot = R"(
mount --bind "$AM_INSTALL_DIR" "$AM_INSTALL_DIR" &&
    mount -o remount,bind,ro "$AM_INSTALL_DIR" || exit 99
exec "$LAUNCHER" --cli
)";

class SelfCheckFaults : public ::testing::Test {
protected:
    TempDir dir;
    fs::path root = dir / "install";
    fs::path seed = dir / "seed";
    fs::path after = dir / "after";
    LoopbackServer server{AM_E2E_PORT};

    SelfCheckFaults() {
        fs::create_directories(root);
        fs::create_directories(after);
    }

    // Installs build 1.0 into `folder`, as an earlier update left it.
    static void installOld(const fs::path& folder) {
        writeFile(folder / "build" / gameFile, "game 1.0");
        writeFile(folder / "installed.txt", "1.0");
    }

    // Version 2.0, with an ETag, so that a download cut short could be continued. Neither the
    // manifest (unless `withSize`) nor the answer tells the size: only the disk can stop the
    // download.
    void publish(const std::string& archive, bool withSize = false) {
        server.serveChunked("/build.zip", archive, "\"2.0\"");
        server.serve("/latest.txt",
                     "version=2.0\nmacurl=" + server.url("/build.zip") + "\n" +
                         (withSize ? "macsize=" + std::to_string(archive.size()) + "\n" : ""));
        server.serve("/changelog.txt", "## 2.0\n");
    }

    // Runs the self-check after `script`'s set-up; the exit status, or nothing when the set-up
    // is not allowed here.
    std::optional<int> runIsolated(const char* script, const std::string& fill = "") {
        Subprocess run("/usr/bin/unshare", {"-Urm", "/bin/sh", "-c", script},
                       {{"AM_INSTALL_DIR", root.string()},
                        {"SEED", seed.string()},
                        {"AFTER", after.string()},
                        {"FILL", fill},
                        {"LAUNCHER", AM_LAUNCHER_EXE}});
        const int status = run.wait();
        output = run.standardOutput();
        if (status == 99 || (status != 0 && output.empty())) {
            return std::nullopt;
        }
        return status;
    }

    std::string lastLine() const {
        std::string text = output;
        if (text.ends_with('\n')) {
            text.pop_back();
        }
        return text.substr(text.rfind('\n') + 1);
    }

    std::string output;
};

TEST_F(SelfCheckFaults, AFullDiskEndsInAClearErrorAndKeepsThePreviousBuild) {
    ZipBuilder manySmallFiles;
    manySmallFiles.file(gameFile, "game 2.0", 0755);
    for (int i = 0; i < 1000; ++i) {
        manySmallFiles.file("Ashenmarch.app/Contents/Resources/" + std::to_string(i), "x");
    }
    struct Case {
        const char* when;
        std::string archive;
        const char* failure;   // how the last line begins; nullptr: the update succeeds
        bool partialFillsDisk; // a partial download of an earlier run took every byte left
    };
    const Case cases[] = {
        // 3 MiB stored uncompressed, of a size told nowhere: the download itself is stopped.
        {"downloading",
         ZipBuilder().uncompressed().file(gameFile, std::string(3 << 20, 'x')).bytes(),
         "FAIL: Error Domain=am Code=9 \"not enough disk space: ", false},
        // The entries declare 8 MiB; the check before unpacking refuses them.
        {"about to unpack", ZipBuilder().file(gameFile, std::string(8 << 20, '\0')).bytes(),
         "FAIL: Error Domain=am Code=9 \"not enough disk space: 8 MB needed, 1 MB free\"", false},
        // A few bytes declared, but each file takes a whole page: room runs out while unpacking.
        {"unpacking", manySmallFiles.bytes(), "FAIL: Error Domain=am Code=2 ", false},
        // Its space is the new download's to take.
        {"after a partial download filled it",
         ZipBuilder().file(gameFile, "game 2.0", 0755).bytes(), nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        fs::remove_all(after);
        fs::remove_all(seed);
        installOld(seed);
        if (c.partialFillsDisk) {
            writeFile(seed / "update.zip.part.meta",
                      "address=" + server.url("/build.zip") + "\nvalidator=\"1.9\"\nlength=0\n");
        }
        publish(c.archive, c.partialFillsDisk);
        const std::optional<int> status =
            runIsolated(onSmallDisk, c.partialFillsDisk ? "update.zip.part" : "");
        if (!status) {
            GTEST_SKIP() << "no private mount namespace here: " << output;
        }
        if (c.failure == nullptr) {
            EXPECT_EQ(*status, 0) << output;
            expectOneSettledBuild(after, "2.0", "game 2.0");
            continue;
        }
        EXPECT_EQ(*status, 1) << output;
        EXPECT_TRUE(lastLine().starts_with(c.failure)) << output;
        // A failed unpacking keeps the archive for the next attempt; nothing else may stay, not
        // even a partial download, which would only take the space the next run needs.
        fs::remove(after / "update.zip");
        expectOneSettledBuild(after, "1.0", "game 1.0");
    }
}

TEST_F(SelfCheckFaults, AReadOnlyInstallRootIsAClearErrorAndNothingChanges) {
    installOld(root);
    publish(ZipBuilder().file(gameFile, "game 2.0", 0755).bytes());
    const std::optional<int> status = runIsolated(onReadOnlyRoot);
    if (!status) {
        GTEST_SKIP() << "no private mount namespace here: " << output;
    }
    EXPECT_EQ(*status, 1) << output;
    EXPECT_EQ(lastLine(), "FAIL: Error Domain=posix Code=30 \"cannot open " +
                              (root / ".lock").string() + ": Read-only file system\"")
        << output;
    expectOneSettledBuild(root, "1.0", "game 1.0");
}

} // namespace
