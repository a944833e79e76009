// --update, --verify and --repair as main runs them, in process: what each prints and the status
// it ends with, over one player's story from nothing installed to a repaired build.
#include "cli/UpdateMode.h"

#include "cli/VerifyMode.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

TEST(UpdateModes, SayWhatTheyFoundAndDid) {
    TempDir dir;
    LoopbackServer server;
    const Core::Install::InstallLayout layout{dir / "install"};
    const std::string rootLine = "install root : " + layout.root.string() + "\n";
    ReleaseEndpoints endpoints{server.url("/latest.txt"), server.url("/changelog.txt")};
    // The mode's lines without the "   download N%" ones, whose count varies; its status.
    const std::optional<CLI::UpdateKind> verify;
    const auto run = [&](std::optional<CLI::UpdateKind> kind) {
        std::ostringstream out;
        const int status =
            kind ? CLI::runUpdate(layout, endpoints, out, *kind, loopbackTransferOptions(), {})
                 : CLI::runVerify(layout, out);
        return std::pair(std::regex_replace(out.str(), std::regex("   download .*\n"), ""), status);
    };
    using Result = std::pair<std::string, int>;

    EXPECT_EQ(run(verify), Result(rootLine + "ERROR: nothing is installed\n", 1));
    ZipBuilder build;
    build.file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "game 1.0", 0755)
        .symlink("Ashenmarch.app/Current", "Contents");
    for (std::uint32_t pack = 0; pack < 4; ++pack) {
        build.file("Ashenmarch.app/pack" + std::to_string(pack), noise(100 * 1024, pack));
    }
    const PatchRelease one(server, "1.0", build);
    EXPECT_EQ(run(CLI::UpdateKind::Update),
              Result(rootLine + "transfer     : full, " + std::to_string(one.archive.size()) +
                         " bytes\nUPDATED 1.0\n",
                     0));
    EXPECT_EQ(run(verify), Result(rootLine + "installed    : 1.0\nVERIFIED\n", 0));

    fs::remove(layout.buildDir() / "Ashenmarch.app/pack0");
    writeFile(layout.buildDir() / "Ashenmarch.app/pack1", "the player's own");
    writeFile(layout.buildDir() / "Ashenmarch.app/stray", "x");
    EXPECT_EQ(run(verify), Result(rootLine + "installed    : 1.0\n"
                                             "missing      : Ashenmarch.app/pack0\n"
                                             "changed      : Ashenmarch.app/pack1\n"
                                             "unexpected   : Ashenmarch.app/stray\n"
                                             "DAMAGED 3\n",
                                  1));
    // pack0 and pack1 lie side by side in the archive: one range.
    const std::int64_t damaged = one.entry("Ashenmarch.app/pack1").span.end() -
                                 one.entry("Ashenmarch.app/pack0").span.offset;
    EXPECT_EQ(run(CLI::UpdateKind::Repair),
              Result(rootLine + "transfer     : patch, 2 of 6 files, " + std::to_string(damaged) +
                         " bytes\nREPAIRED 1.0\n",
                     0));
    EXPECT_EQ(run(verify).second, 0);

    EXPECT_EQ(run(CLI::UpdateKind::Update), Result(rootLine + "UP TO DATE 1.0\n", 0));
    server.serve("/latest.txt", "not a manifest");
    EXPECT_EQ(run(CLI::UpdateKind::Update),
              Result(rootLine + "OFFLINE: Error Domain=am Code=3 \"manifest has no macurl\"\n", 1));
}

} // namespace
