// The install root's small parts: the bundle's name, the lock and the free-space message.
#include "core/install/BundleName.h"
#include "core/install/DiskSpace.h"
#include "core/install/InstallLock.h"
#include "support/ErrorOf.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(InstallRoot, TheBundleIsOnePlainNameInsideTheBuildFolder) {
    const Core::Install::InstallLayout layout{"/games/root"};
    Manifest manifest;
    for (const char* name : {"Ashenmarch.app", "", "My Game.app", "..app", "a..b"}) {
        manifest.exe = name;
        EXPECT_NO_THROW(Core::Install::requireSafeBundleName(manifest)) << name;
        EXPECT_EQ(layout.gameAppPath(manifest),
                  fs::path("/games/root/build") / (*name ? name : "Ashenmarch.app"));
    }
    for (const char* name :
         {"..", ".", "../Evil.app", "/Applications/Evil.app", "a/b.app", "Sub\\Game.app"}) {
        manifest.exe = name;
        EXPECT_EQ(
            errorOf([&] { Core::Install::requireSafeBundleName(manifest); }).fullDescription(),
            "Error Domain=am Code=8 \"manifest has an unsafe macexe\"")
            << name;
        EXPECT_TRUE(layout.gameAppPath(manifest).string().starts_with("/games/root/build/"))
            << name;
    }
}

TEST(InstallLock, IsHeldUntilItsHolderGoesAwayHoweverItGoes) {
    TempDir dir;
    const Core::Install::InstallLayout layout{dir / "not/yet/root"};
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    Subprocess holder([&] {
        const Core::Install::InstallLock held(layout);
        return ::write(ready[1], "L", 1) == 1 ? ::pause() : 2;
    });
    char signal = 0;
    ASSERT_EQ(::read(ready[0], &signal, 1), 1);
    EXPECT_EQ(errorOf([&] { Core::Install::InstallLock second(layout); }).fullDescription(),
              "Error Domain=am Code=11 \"another launcher is updating this install\"");
    holder.kill(SIGKILL);
    holder.wait();
    EXPECT_NO_THROW(Core::Install::InstallLock afterACrash(layout));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(DiskSpace, MessageRoundsNeededUpAndFreeDown) {
    constexpr std::uint64_t MB = 1024 * 1024;
    const std::tuple<std::uint64_t, std::uint64_t, const char*> rows[] = {
        {1, MB - 1, "1 MB needed, 0 MB free"},
        {2 * MB + 1, 2 * MB, "3 MB needed, 2 MB free"},
        {std::numeric_limits<std::uint64_t>::max(), 0, "17592186044416 MB needed, 0 MB free"},
    };
    for (const auto& [needed, free, text] : rows) {
        EXPECT_EQ(Core::Install::notEnoughSpaceMessage(needed, free),
                  std::string("not enough disk space: ") + text);
    }
}

} // namespace
