#include "core/install/InstallStore.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace fs = std::filesystem;

namespace {

// An install root inside a fresh temporary folder.
struct InstallStoreAtRoot : testing::Test {
    TempDir dir;
    fs::path root = dir / "deep/missing/root";
    Core::Install::InstallLayout layout{root};
};

TEST(InstallStore, RootComesFromTheEnvironmentAndIsNeverCreated) {
    TempDir dataHome;
    ScopedEnv xdg("XDG_DATA_HOME", dataHome.path().c_str());
    const fs::path fallback = dataHome / "Ashenmarch";

    {
        ScopedEnv unset("AM_INSTALL_DIR", nullptr);
        EXPECT_EQ(Core::Install::installRoot(), fallback);
    }
    for (const char* value : {"", "relative/dir", " spaced ", "~/game", "$HOME/game", "/abs/x"}) {
        ScopedEnv set("AM_INSTALL_DIR", value);
        EXPECT_EQ(Core::Install::installRoot(), *value ? fs::path(value) : fallback) << value;
    }
    EXPECT_FALSE(fs::exists(fallback));
}

TEST_F(InstallStoreAtRoot, TheBundleStaysInsideTheBuildFolder) {
    Manifest manifest;
    manifest.exe = "";
    EXPECT_EQ(layout.gameAppPath(manifest), root / "build/Ashenmarch.app");
    // An absolute name must not replace the install root.
    manifest.exe = "/etc";
    EXPECT_TRUE(layout.gameAppPath(manifest).string().starts_with(layout.buildDir().string()));
}

TEST_F(InstallStoreAtRoot, MarkInstalledCreatesTheRootAndWritesExactlyTheVersion) {
    EXPECT_EQ(Core::Install::installedVersion(layout), "");

    Core::Install::markInstalled(layout, "1.4.0 beta");
    EXPECT_EQ(readFile(root / "installed.txt"), "1.4.0 beta");
    EXPECT_EQ(Core::Install::installedVersion(layout), "1.4.0 beta");

    Core::Install::markInstalled(layout, "1.5");
    EXPECT_EQ(readFile(root / "installed.txt"), "1.5");
    // Only the marker is left: the atomic write leaves no temporary file behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

TEST_F(InstallStoreAtRoot, MarkerReadsTrimmedAndUnreadableAsNothing) {
    const std::pair<std::string, std::string> cases[] = {
        {"\r\n 1.4.0 \t\r\n", "1.4.0"},
        {"\u3000\u20281.4.0\u2029\u0085\v\f", "1.4.0"},
        {" 1.4 \u00A0 beta ", "1.4 \u00A0 beta"},
        {" \t\r\n\u00A0\n", ""},
        {"1.4.0\xFF", ""},
        {"\xA0v1", ""}, // a lone tail byte of U+00A0
    };
    for (const auto& [content, expected] : cases) {
        writeFile(root / "installed.txt", content);
        EXPECT_EQ(Core::Install::installedVersion(layout), expected)
            << testing::PrintToString(content);
    }
}

TEST_F(InstallStoreAtRoot, FailuresAreDroppedAndLoseNothing) {
    // A folder where the marker should be: reads as nothing, and the write leaves it alone.
    fs::create_directories(root / "installed.txt");
    EXPECT_EQ(Core::Install::installedVersion(layout), "");
    EXPECT_NO_THROW(Core::Install::markInstalled(layout, "2.0"));
    EXPECT_TRUE(fs::is_directory(root / "installed.txt"));

    // A file where the root should be: neither the folder nor the marker can be made.
    const fs::path blocked = dir / "blocked";
    writeFile(blocked, "keep");
    const Core::Install::InstallLayout blockedLayout{blocked};
    EXPECT_NO_THROW(Core::Install::markInstalled(blockedLayout, "2.0"));
    EXPECT_EQ(readFile(blocked), "keep");
    EXPECT_EQ(Core::Install::installedVersion(blockedLayout), "");
}

TEST_F(InstallStoreAtRoot, InstalledMeansTheBundleExistsWhateverTheMarkerSays) {
    Manifest manifest;
    manifest.exe = "Game.app";
    Core::Install::markInstalled(layout, "1.0");
    EXPECT_FALSE(Core::Install::isInstalled(layout, manifest)) << "no build folder";

    fs::create_directories(root / "build/Game.app");
    EXPECT_TRUE(Core::Install::isInstalled(layout, manifest));
    fs::remove(root / "installed.txt");
    EXPECT_TRUE(Core::Install::isInstalled(layout, manifest));

    manifest.exe = "";
    EXPECT_FALSE(Core::Install::isInstalled(layout, manifest));
    writeFile(root / "build/Ashenmarch.app", "a file counts too");
    EXPECT_TRUE(Core::Install::isInstalled(layout, manifest));
}

} // namespace
