#include "core/install/StagedInstall.h"

#include "core/install/InstallStore.h"
#include "support/InterruptedUpdate.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// A power cut keeps any part of what was written but not synced: the new build's files must be
// on the disk before `build` names them, and `build` renamed on the disk before the marker says
// its version. (A kill at any change is CrashPointTest's.)
TEST(StagedInstall, TheBuildReachesTheDiskBeforeItsNameAndItsNameBeforeTheMarker) {
    TempDir root;
    const Core::Install::InstallLayout layout{root.path()};
    const Manifest manifest = Manifest::parse("version=2.0\n");
    writeFile(layout.buildDir() / gameFile, "game 1.0");
    Core::Install::markInstalled(layout, "1.0");
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

} // namespace
