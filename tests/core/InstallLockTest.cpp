#include "core/install/InstallLock.h"

#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

TEST(InstallLock, SecondHolderIsRefusedUntilTheFirstGoesAway) {
    TempDir dir;
    const auto root = dir / "not/yet/Ashenmarch";
    std::optional<Core::Install::InstallLock> first(std::in_place,
                                                    Core::Install::InstallLayout{root});
    EXPECT_TRUE(std::filesystem::exists(root / ".lock"));

    const Error error = errorOf([&] { Core::Install::InstallLock second({root}); });
    EXPECT_TRUE(error.is(AmCode::InstallLocked));
    EXPECT_EQ(error.message(), "another launcher is updating this install");

    // Moving hands the lock over; it is not released on the way.
    Core::Install::InstallLock moved = std::move(*first);
    first.reset();
    EXPECT_TRUE(
        errorOf([&] { Core::Install::InstallLock again({root}); }).is(AmCode::InstallLocked));
    { Core::Install::InstallLock released = std::move(moved); }
    EXPECT_NO_THROW(Core::Install::InstallLock after({root}));
}

TEST(InstallLock, ACrashedHolderLeavesNoStaleLock) {
    TempDir dir;
    const auto root = dir / "Ashenmarch";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    Subprocess holder([&] {
        const Core::Install::InstallLock held({root});
        const char signal = 'L';
        return write(ready[1], &signal, 1) == 1 ? pause() : 2;
    });
    close(ready[1]);
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);

    EXPECT_TRUE(
        errorOf([&] { Core::Install::InstallLock busy({root}); }).is(AmCode::InstallLocked));
    holder.kill(SIGKILL);
    EXPECT_EQ(holder.wait(), 128 + SIGKILL);
    EXPECT_NO_THROW(Core::Install::InstallLock after({root}));
}

TEST(InstallLock, FolderThatCannotBeMadeIsAFileSystemError) {
    TempDir dir;
    writeFile(dir / "file", "x");
    EXPECT_EQ(errorOf([&] { Core::Install::InstallLock lock({dir / "file/root"}); }).domain(),
              "posix");
}

} // namespace
