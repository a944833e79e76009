#include "platform/FileSystem.h"

#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

TEST(FileSystem, AtomicWriteReplacesWholeOrNotAtAllAndLeavesNoTemporaryFile) {
    TempDir dir;
    writeFile(dir / "marker.txt", "old version that is longer");
    FileSystem::writeTextAtomically(dir / "marker.txt", "1.4");
    EXPECT_EQ(readFile(dir / "marker.txt"), "1.4");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);

    // The rename at the end fails, even for root: a folder with something in it stands there.
    writeFile(dir / "taken/inside", "kept");
    EXPECT_EQ(errorOf([&] { FileSystem::writeTextAtomically(dir / "taken", "new"); }).domain(),
              "posix");
    EXPECT_EQ(readFile(dir / "taken/inside"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
}

TEST(FileSystem, UserDataFolderFollowsAnAbsoluteXdgDataHomeOnly) {
    ScopedEnv home("HOME", "/home/player");
    const std::pair<const char*, fs::path> rows[] = {
        {"/data", "/data"},
        {"relative/data", "/home/player/.local/share"},
        {nullptr, "/home/player/.local/share"},
    };
    for (const auto& [xdg, folder] : rows) {
        ScopedEnv set("XDG_DATA_HOME", xdg);
        EXPECT_EQ(FileSystem::userDataFolder(), folder) << (xdg ? xdg : "unset");
    }
}

} // namespace
