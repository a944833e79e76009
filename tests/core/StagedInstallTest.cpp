#include "core/StagedInstall.h"

#include "core/InstallStore.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

const char* const executable = "Ashenmarch.app/Contents/MacOS/ASHENMARCH";

class StagedInstall : public ::testing::Test {
protected:
    TempDir root;
    ScopedEnv installDir{"AM_INSTALL_DIR", root.path().c_str()};
    Manifest manifest = Manifest::parse("version=2.0\nmacurl=http://127.0.0.1/b.zip\n");

    fs::path archive(const std::string& gameText) {
        const fs::path zip = root / "update.zip";
        ZipBuilder().file(executable, gameText, 0755).writeTo(zip);
        return zip;
    }

    // An installed 1.0 build, as a previous update left it.
    void installOld() {
        writeFile(Core::buildDir() / executable, "game 1.0");
        Core::markInstalled("1.0");
    }

    void expectOnlyBuild(const std::string& version, const std::string& gameText) {
        EXPECT_EQ(Core::installedVersion(), version);
        EXPECT_EQ(readFile(Core::buildDir() / executable), gameText);
        for (const fs::path& leftover :
             {Core::stagingDir(), Core::setAsideDir(), Core::pendingMarker()}) {
            EXPECT_FALSE(fs::exists(leftover)) << leftover;
        }
    }
};

TEST_F(StagedInstall, ReplacesTheOldBuildAndRecordsTheVersion) {
    installOld();
    writeFile(Core::buildDir() / "stale-from-1.0.dat", "x");
    Core::installBuild(archive("game 2.0"), manifest);
    expectOnlyBuild("2.0", "game 2.0");
    EXPECT_FALSE(fs::exists(Core::buildDir() / "stale-from-1.0.dat"));
    EXPECT_EQ(fs::status(Core::buildDir() / executable).permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
}

TEST_F(StagedInstall, AFailedUpdateLeavesTheInstalledBuildAsItWas) {
    installOld();
    const fs::path wrongBundle = root / "wrong.zip";
    ZipBuilder().file("Other.app/Contents/MacOS/ASHENMARCH", "other", 0755).writeTo(wrongBundle);
    const fs::path corrupt = root / "corrupt.zip";
    writeFile(corrupt, "<html>404 Not Found</html>");

    const Error missing = errorOf([&] { Core::installBuild(wrongBundle, manifest); });
    EXPECT_TRUE(missing.is(AmCode::MissingBundle));
    EXPECT_EQ(missing.message(), "download did not contain Ashenmarch.app");
    expectOnlyBuild("1.0", "game 1.0");

    EXPECT_TRUE(errorOf([&] { Core::installBuild(corrupt, manifest); }).is(AmCode::UnpackFailed));
    expectOnlyBuild("1.0", "game 1.0");
}

TEST_F(StagedInstall, StagingReportsWhatTheArchiveHolds) {
    const fs::path noBinary = root / "nobinary.zip";
    ZipBuilder().file("Ashenmarch.app/Contents/Info.plist", "<plist/>").writeTo(noBinary);
    const Core::StagedBuild staged = Core::stageBuild(noBinary, manifest);
    EXPECT_TRUE(staged.hasBundle);
    EXPECT_FALSE(staged.hasExecutable);
    Core::discardStagedBuild();
    EXPECT_FALSE(fs::exists(Core::stagingDir()));
}

// Each state an update killed at some step can leave behind; recovery must end with exactly
// one complete build whose marker matches it.
struct Interruption {
    const char* step;
    const char* marker; // what installed.txt says
    bool pending;       // installing.txt names 2.0
    bool staged;        // the new build is complete in the staging folder
    bool oldInBuild;    // build holds 1.0
    bool oldAside;      // build.old holds 1.0
    bool newInBuild;    // build holds 2.0
    const char* expectedVersion;
};

class Recovery : public StagedInstall, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Recovery, EndsWithOneCompleteBuildWhoseMarkerMatches) {
    const Interruption& state = GetParam();
    Core::markInstalled(state.marker);
    if (state.pending) {
        writeFile(Core::pendingMarker(), "2.0");
    }
    if (state.staged) {
        writeFile(Core::stagingDir() / executable, "game 2.0");
    }
    if (state.oldInBuild) {
        writeFile(Core::buildDir() / executable, "game 1.0");
    }
    if (state.oldAside) {
        writeFile(Core::setAsideDir() / executable, "game 1.0");
    }
    if (state.newInBuild) {
        writeFile(Core::buildDir() / executable, "game 2.0");
    }
    writeFile(root / ".update.zip.Ab12Cd", "half a download");

    Core::recoverInterruptedUpdate();

    const std::string version = state.expectedVersion;
    expectOnlyBuild(version, "game " + version);
    EXPECT_FALSE(fs::exists(root / ".update.zip.Ab12Cd"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, Recovery,
    ::testing::Values(Interruption{"mid-unpack", "1.0", false, true, true, false, false, "1.0"},
                      Interruption{"pending written", "1.0", true, true, true, false, false, "1.0"},
                      Interruption{"old set aside", "1.0", true, true, false, true, false, "1.0"},
                      Interruption{"new swapped in", "1.0", true, false, false, true, true, "2.0"},
                      Interruption{"marker written", "2.0", true, false, false, true, true, "2.0"},
                      Interruption{"pending cleared", "2.0", false, false, false, true, true,
                                   "2.0"}),
    [](const auto& info) {
        std::string name = info.param.step;
        std::replace(name.begin(), name.end(), ' ', '_');
        std::erase(name, '-');
        return name;
    });

} // namespace
