#include "core/install/StagedInstall.h"

#include "core/install/InstallStore.h"
#include "support/ErrorOf.h"
#include "support/InterruptedUpdate.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <optional>

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

    void expectOnlyBuild(const std::string& version, const std::string& gameText) {
        EXPECT_EQ(Core::Install::installedVersion(layout), version);
        EXPECT_EQ(readFile(layout.buildDir() / gameFile), gameText);
        for (const fs::path& leftover :
             {layout.stagingDir(), layout.setAsideDir(), layout.pendingRecordPath()}) {
            EXPECT_FALSE(fs::exists(leftover)) << leftover;
        }
    }
};

TEST_F(StagedInstall, ReplacesTheOldBuildAndRecordsTheVersion) {
    installOld();
    writeFile(layout.buildDir() / "stale-from-1.0.dat", "x");
    ZipBuilder().file(gameFile, "game 2.0", 0755).writeTo(layout.archivePath());

    ASSERT_TRUE(Core::Install::stageBuild(layout, manifest).hasBundle);
    Core::Install::commitStagedBuild(layout, manifest);
    expectOnlyBuild("2.0", "game 2.0");
    EXPECT_FALSE(fs::exists(layout.buildDir() / "stale-from-1.0.dat"));
    EXPECT_EQ(fs::status(layout.buildDir() / gameFile).permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
}

TEST_F(StagedInstall, StagingReportsWhatTheArchiveHoldsAndKeepsTheInstalledBuild) {
    installOld();
    struct Case {
        const char* name;
        std::string archive;
        bool hasBundle;
        bool hasExecutable;
        std::optional<AmCode> failure;
    };
    const Case cases[] = {
        {"no executable",
         ZipBuilder().file("Ashenmarch.app/Contents/Info.plist", "<plist/>").bytes(),
         true,
         false,
         {}},
        {"other bundle",
         ZipBuilder().file("Other.app/Contents/MacOS/ASHENMARCH", "x", 0755).bytes(),
         false,
         false,
         {}},
        {"not an archive", "<html>404 Not Found</html>", false, false, AmCode::UnpackFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(layout.archivePath(), c.archive);
        if (c.failure) {
            EXPECT_TRUE(
                errorOf([&] { Core::Install::stageBuild(layout, manifest); }).is(*c.failure));
        } else {
            const Core::Install::StagedBuild staged = Core::Install::stageBuild(layout, manifest);
            EXPECT_EQ(staged.hasBundle, c.hasBundle);
            EXPECT_EQ(staged.hasExecutable, c.hasExecutable);
            Core::Install::discardStagedBuild(layout);
        }
        expectOnlyBuild("1.0", "game 1.0");
    }
}

class Recovery : public StagedInstall, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Recovery, EndsWithOneCompleteBuildWhoseMarkerMatches) {
    const Interruption& state = GetParam();
    leaveInterruptedUpdate(state, root.path());
    Core::Install::recoverInterruptedUpdate(layout);
    const std::string version = state.recoveredVersion;
    expectOneSettledBuild(root.path(), version, "game " + version);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, Recovery, ::testing::ValuesIn(everyInterruption()),
                         [](const auto& info) { return interruptionName(info.param); });

} // namespace
