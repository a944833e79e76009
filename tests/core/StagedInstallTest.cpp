#include "core/install/StagedInstall.h"

#include "core/install/InstallStore.h"
#include "support/ErrorOf.h"
#include "support/InterruptedUpdate.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class StagedInstall : public ::testing::Test {
protected:
    TempDir root;
    ScopedEnv installDir{"AM_INSTALL_DIR", root.path().c_str()};
    Manifest manifest = Manifest::parse("version=2.0\nmacurl=http://127.0.0.1/b.zip\n");

    fs::path archive(const std::string& gameText) {
        const fs::path zip = root / "update.zip";
        ZipBuilder().file(gameFile, gameText, 0755).writeTo(zip);
        return zip;
    }

    // An installed 1.0 build, as a previous update left it.
    void installOld() {
        writeFile(Core::Install::buildDir() / gameFile, "game 1.0");
        Core::Install::markInstalled("1.0");
    }

    void expectOnlyBuild(const std::string& version, const std::string& gameText) {
        EXPECT_EQ(Core::Install::installedVersion(), version);
        EXPECT_EQ(readFile(Core::Install::buildDir() / gameFile), gameText);
        for (const fs::path& leftover : {Core::Install::stagingDir(), Core::Install::setAsideDir(),
                                         Core::Install::pendingMarker()}) {
            EXPECT_FALSE(fs::exists(leftover)) << leftover;
        }
    }
};

TEST_F(StagedInstall, ReplacesTheOldBuildAndRecordsTheVersion) {
    installOld();
    writeFile(Core::Install::buildDir() / "stale-from-1.0.dat", "x");
    Core::Install::installBuild(archive("game 2.0"), manifest);
    expectOnlyBuild("2.0", "game 2.0");
    EXPECT_FALSE(fs::exists(Core::Install::buildDir() / "stale-from-1.0.dat"));
    EXPECT_EQ(fs::status(Core::Install::buildDir() / gameFile).permissions() &
                  fs::perms::owner_exec,
              fs::perms::owner_exec);
}

TEST_F(StagedInstall, AFailedUpdateLeavesTheInstalledBuildAsItWas) {
    installOld();
    const fs::path wrongBundle = root / "wrong.zip";
    ZipBuilder().file("Other.app/Contents/MacOS/ASHENMARCH", "other", 0755).writeTo(wrongBundle);
    const fs::path corrupt = root / "corrupt.zip";
    writeFile(corrupt, "<html>404 Not Found</html>");

    const Error missing = errorOf([&] { Core::Install::installBuild(wrongBundle, manifest); });
    EXPECT_TRUE(missing.is(AmCode::MissingBundle));
    EXPECT_EQ(missing.message(), "download did not contain Ashenmarch.app");
    expectOnlyBuild("1.0", "game 1.0");

    EXPECT_TRUE(
        errorOf([&] { Core::Install::installBuild(corrupt, manifest); }).is(AmCode::UnpackFailed));
    expectOnlyBuild("1.0", "game 1.0");
}

TEST_F(StagedInstall, StagingReportsWhatTheArchiveHolds) {
    const fs::path noBinary = root / "nobinary.zip";
    ZipBuilder().file("Ashenmarch.app/Contents/Info.plist", "<plist/>").writeTo(noBinary);
    const Core::Install::StagedBuild staged = Core::Install::stageBuild(noBinary, manifest);
    EXPECT_TRUE(staged.hasBundle);
    EXPECT_FALSE(staged.hasExecutable);
    Core::Install::discardStagedBuild();
    EXPECT_FALSE(fs::exists(Core::Install::stagingDir()));
}

class Recovery : public StagedInstall, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Recovery, EndsWithOneCompleteBuildWhoseMarkerMatches) {
    const Interruption& state = GetParam();
    leaveInterruptedUpdate(state, root.path());
    Core::Install::recoverInterruptedUpdate();
    const std::string version = state.recoveredVersion;
    expectOneSettledBuild(root.path(), version, "game " + version);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, Recovery, ::testing::ValuesIn(everyInterruption()),
                         [](const auto& info) { return interruptionName(info.param); });

} // namespace
