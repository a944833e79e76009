#include "platform/FileSystem.h"

#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>

namespace fs = std::filesystem;

namespace {

std::size_t itemsIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(FileSystem, FailuresArePosixErrorsNamingThePath) {
    TempDir dir;
    FileSystem::createFolder(dir / "a/b/c");
    FileSystem::createFolder(dir / "a/b/c"); // an existing folder is fine
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    writeFile(dir / "file", "x");
    writeFile(dir / "latin1.txt", "caf\xE9");
    const struct {
        const char* name;
        std::function<void()> call;
        int code;
        fs::path named;
    } rows[] = {
        {"folder over a file", [&] { FileSystem::createFolder(dir / "file"); }, ENOTDIR,
         dir / "file"},
        {"read invalid UTF-8", [&] { FileSystem::readText(dir / "latin1.txt"); }, EILSEQ,
         dir / "latin1.txt"},
        {"read a missing file", [&] { FileSystem::readText(dir / "none"); }, ENOENT, dir / "none"},
        {"move onto an item", [&] { FileSystem::move(dir / "a", dir / "file"); }, EEXIST,
         dir / "file"},
        {"remove nothing", [&] { FileSystem::remove(dir / "none"); }, ENOENT, dir / "none"},
    };
    for (const auto& row : rows) {
        const Error error = errorOf(row.call);
        EXPECT_EQ(error.domain(), "posix") << row.name;
        EXPECT_EQ(error.code(), row.code) << row.name;
        EXPECT_NE(error.message().value_or("").find(row.named.string()), std::string::npos)
            << row.name << ": " << error.what();
    }
    EXPECT_EQ(FileSystem::readText(dir / "file"), "x");
}

TEST(FileSystem, AtomicWriteReplacesWholeOrNotAtAllAndLeavesNoTemporaryFile) {
    TempDir dir;
    writeFile(dir / "marker.txt", "old version that is longer");
    FileSystem::writeTextAtomically(dir / "marker.txt", "1.4");
    EXPECT_EQ(readFile(dir / "marker.txt"), "1.4");
    EXPECT_EQ(itemsIn(dir.path()), 1u);

    // The rename at the end fails, even for root: a folder with something in it stands there.
    writeFile(dir / "taken/inside", "kept");
    EXPECT_EQ(errorOf([&] { FileSystem::writeTextAtomically(dir / "taken", "new"); }).domain(),
              "posix");
    EXPECT_EQ(readFile(dir / "taken/inside"), "kept");
    EXPECT_EQ(itemsIn(dir.path()), 2u);
}

TEST(FileSystem, UserDataFolderFollowsAnAbsoluteXdgDataHomeOnly) {
    ScopedEnv home("HOME", "/home/player");
    const std::pair<const char*, fs::path> rows[] = {
        {"/data", "/data"},
        {"relative/data", "/home/player/.local/share"},
        {"", "/home/player/.local/share"},
        {nullptr, "/home/player/.local/share"},
    };
    for (const auto& [xdg, folder] : rows) {
        ScopedEnv set("XDG_DATA_HOME", xdg);
        EXPECT_EQ(FileSystem::userDataFolder(), folder) << (xdg ? xdg : "unset");
    }
}

} // namespace
