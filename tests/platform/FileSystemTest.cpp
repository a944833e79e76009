#include "platform/FileSystem.h"

#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

TEST(FileSystem, CreateFolderMakesParentsAcceptsExistingAndRefusesAFileInTheWay) {
    TempDir dir;
    FileSystem::createFolder(dir / "a/b/c");
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    FileSystem::createFolder(dir / "a/b/c"); // existing folder is fine

    writeFile(dir / "file", "x");
    const Error blocked = errorOf([&] { FileSystem::createFolder(dir / "file"); });
    EXPECT_EQ(blocked.domain(), "posix");
    EXPECT_NE(blocked.message()->find((dir / "file").string()), std::string::npos);
    const Error below = errorOf([&] { FileSystem::createFolder(dir / "file/sub"); });
    EXPECT_EQ(below.domain(), "posix");
}

TEST(FileSystem, ReadTextRejectsMissingFilesAndInvalidUtf8) {
    TempDir dir;
    writeFile(dir / "ok.txt", "caf\xC3\xA9\n");
    EXPECT_EQ(FileSystem::readText(dir / "ok.txt"), "caf\xC3\xA9\n");

    writeFile(dir / "latin1.txt", "caf\xE9");
    EXPECT_EQ(errorOf([&] { FileSystem::readText(dir / "latin1.txt"); }).code(), EILSEQ);
    EXPECT_EQ(errorOf([&] { FileSystem::readText(dir / "missing"); }).code(), ENOENT);
    EXPECT_EQ(errorOf([&] { FileSystem::readText(dir.path()); }).domain(), "posix");
}

TEST(FileSystem, AtomicWriteReplacesWholeAndLeavesNoTemporaryBehind) {
    TempDir dir;
    const fs::path target = dir / "marker.txt";
    writeFile(target, "old version that is longer");
    FileSystem::writeTextAtomically(target, "1.4");
    EXPECT_EQ(readFile(target), "1.4");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(FileSystem, FailedAtomicWriteKeepsTheOldContent) {
    TempDir dir;
    const fs::path target = dir / "locked/marker.txt";
    writeFile(target, "old");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    handToUnprivilegedUser(dir.path());
    runUnprivileged([&] {
        EXPECT_EQ(errorOf([&] { FileSystem::writeTextAtomically(target, "new"); }).domain(),
                  "posix");
        EXPECT_EQ(readFile(target), "old");
    });
}

TEST(FileSystem, MoveRefusesAnOccupiedDestinationAndRemoveIsRecursive) {
    TempDir dir;
    writeFile(dir / "a", "a");
    writeFile(dir / "b", "b");
    EXPECT_EQ(errorOf([&] { FileSystem::move(dir / "a", dir / "b"); }).code(), EEXIST);
    EXPECT_EQ(errorOf([&] { FileSystem::move(dir / "a", dir / "no/such/b"); }).code(), ENOENT);
    FileSystem::move(dir / "a", dir / "c");
    EXPECT_EQ(readFile(dir / "c"), "a");

    writeFile(dir / "tree/x/y/z", "deep");
    FileSystem::remove(dir / "tree");
    EXPECT_FALSE(FileSystem::exists(dir / "tree"));
    EXPECT_EQ(errorOf([&] { FileSystem::remove(dir / "tree"); }).code(), ENOENT);
}

TEST(FileSystem, UserDataFolderFollowsAnAbsoluteXdgDataHomeOnly) {
    ScopedEnv home("HOME", "/home/player");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data");
        EXPECT_EQ(FileSystem::userDataFolder(), fs::path("/data"));
    }
    for (const char* ignored : {"relative/data", ""}) {
        ScopedEnv xdg("XDG_DATA_HOME", ignored);
        EXPECT_EQ(FileSystem::userDataFolder(), fs::path("/home/player/.local/share")) << ignored;
    }
    ScopedEnv unset("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(FileSystem::userDataFolder(), fs::path("/home/player/.local/share"));
}

} // namespace
