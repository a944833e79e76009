#include "core/install/StagedInstall.h"

#include "core/install/InstallStore.h"
#include "core/unpack/Extract.h"
#include "support/InterruptedUpdate.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class StagedInstall : public ::testing::Test {
protected:
    TempDir root;
    Core::Install::InstallLayout layout{root.path()};
    Manifest manifest = Manifest::parse("version=2.0\nmacurl=http://127.0.0.1/b.zip\n");

    // An installed 1.0 build, as a previous update left it.
    void installOld() {
        writeFile(layout.buildDir() / gameFile, "game 1.0");
        Core::Install::markInstalled(layout, "1.0");
    }

    void install(const std::string& gameText) {
        ZipBuilder().file(gameFile, gameText, 0755).writeTo(layout.archivePath());
        ASSERT_TRUE(Core::Install::stageBuild(layout, manifest).hasBundle);
        Core::Install::commitStagedBuild(layout, manifest);
    }

    void expectOnlyBuild(const std::string& version, const std::string& gameText) {
        EXPECT_EQ(Core::Install::installedVersion(layout), version);
        EXPECT_EQ(readFile(layout.buildDir() / gameFile), gameText);
        for (const fs::path& leftover :
             {layout.stagingDir(), layout.setAsideDir(), layout.pendingRecordPath()}) {
            EXPECT_FALSE(fs::exists(leftover)) << leftover;
        }
    }
};

// Whatever the old build holds goes: a read-only folder, and even an item the player cannot
// remove (another user's, as only root can leave), which is moved out of the way rather than
// block this update or the next.
TEST_F(StagedInstall, ReplacesTheOldBuildWhateverItHolds) {
    installOld();
    writeFile(layout.buildDir() / "stale-from-1.0.dat", "x");
    writeFile(layout.buildDir() / "sealed/data", "x");
    fs::permissions(layout.buildDir() / "sealed", fs::perms(0555));
    handToUnprivilegedUser(root.path());
    if (::geteuid() == 0) {
        writeFile(layout.buildDir() / "root's/data", "x");
    }
    runUnprivileged([&] {
        for (const char* game : {"game 2.0", "game 2.1"}) {
            install(game);
            expectOnlyBuild("2.0", game);
        }
        EXPECT_FALSE(fs::exists(layout.buildDir() / "stale-from-1.0.dat"));
        EXPECT_EQ(fs::status(layout.buildDir() / gameFile).permissions() & fs::perms::owner_exec,
                  fs::perms::owner_exec);
    });
}

// A power cut keeps any part of what was written but not synced: the new build's files must be
// on the disk before `build` names them, and `build` renamed on the disk before the marker says
// its version.
TEST_F(StagedInstall, TheBuildReachesTheDiskBeforeItsNameAndItsNameBeforeTheMarker) {
    installOld();
    ZipBuilder().file(gameFile, "game 2.0", 0755).writeTo(layout.archivePath());
    Core::Install::stageBuild(layout, manifest);
    std::vector<std::string> seen;
    const auto record = [&](const char* what) {
        return [&, what](const fs::path& item) {
            seen.push_back(std::string(what) + " " + item.filename().string() + ": build has " +
                           readFile(layout.buildDir() / gameFile) + ", marker " +
                           Core::Install::installedVersion(layout));
        };
    };
    Core::Install::commitStagedBuild(layout, manifest, {record("tree"), record("folder")});
    EXPECT_EQ(seen,
              (std::vector<std::string>{
                  "tree build.staging: build has game 1.0, marker 1.0",
                  "folder " + root.path().filename().string() + ": build has game 2.0, marker 1.0",
              }));
}

// Files are replaced through a temporary name and one rename, so a kill at any instant leaves
// each one complete with its mode, old or new; the next recovery removes the temporary names.
TEST_F(StagedInstall, ReExtractionKilledAtAnyPointLeavesEveryFileWhole) {
    constexpr int files = 60;
    const auto name = [](int i) {
        return "Ashenmarch.app/" + std::to_string(i);
    };
    const auto content = [](char version, int i) {
        return std::string(4000 + 41 * i, version);
    };
    fs::path archives[2];
    for (const auto& [version, mode] : {std::pair{'o', 0644u}, std::pair{'n', 0755u}}) {
        ZipBuilder zip;
        for (int i = 0; i < files; ++i) {
            zip.file(name(i), content(version, i), mode);
        }
        archives[version == 'n'] = root / (std::string(1, version) + ".zip");
        zip.writeTo(archives[version == 'n']);
    }
    const fs::path build = layout.buildDir();
    const auto reextract = [&](int which) {
        return std::make_unique<Subprocess>([&, which] {
            Core::Unpack::extract(archives[which], build);
            return 0;
        });
    };
    Core::Unpack::extract(archives[0], build);
    const fs::perms oldMode = fs::status(build / name(0)).permissions();
    const auto began = std::chrono::steady_clock::now();
    reextract(1)->wait();
    const auto whole = std::chrono::steady_clock::now() - began;
    const fs::perms newMode = fs::status(build / name(0)).permissions();

    for (int round = 1; round <= 6; ++round) { // old over new, new over what is left, ...
        auto killed = reextract(round % 2 == 1 ? 0 : 1);
        std::this_thread::sleep_for(whole * round / 7);
        killed->kill(SIGKILL);
        killed->wait();
        for (int i = 0; i < files; ++i) {
            const std::string found = readFile(build / name(i));
            const bool isNew = found == content('n', i);
            EXPECT_TRUE(isNew || found == content('o', i)) << name(i) << " in round " << round;
            EXPECT_EQ(fs::status(build / name(i)).permissions(), isNew ? newMode : oldMode);
        }
        Core::Install::recoverInterruptedUpdate(layout);
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(build), {}), files + 1);
    }
}

class Recovery : public StagedInstall, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Recovery, EndsWithOneCompleteBuildWhoseMarkerMatches) {
    const Interruption& state = GetParam();
    handToUnprivilegedUser(root.path());
    runUnprivileged([&] {
        leaveInterruptedUpdate(state, root.path());
        EXPECT_TRUE(Core::Install::hasInterruptedUpdate(layout));
        Core::Install::recoverInterruptedUpdate(layout);
        EXPECT_FALSE(Core::Install::hasInterruptedUpdate(layout));
        const std::string version = state.recoveredVersion;
        EXPECT_EQ(readFile(layout.installedIndexPath()), "index " + version);
        // A patch's staging stays for the next patch to go on from; nothing else does.
        if (state.patching) {
            EXPECT_TRUE(fs::exists(layout.patchRecordPath()));
            fs::remove_all(layout.stagingDir());
        }
        expectOneSettledBuild(root.path(), version, "game " + version);
    });
}

INSTANTIATE_TEST_SUITE_P(EveryStep, Recovery, ::testing::ValuesIn(everyInterruption()),
                         [](const auto& info) { return interruptionName(info.param); });

} // namespace
