#include "cli/SelfCheck.h"

#include "core/trust/Sha256.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestKeyPair.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const gameExecutable = "Ashenmarch.app/Contents/MacOS/ASHENMARCH";

const char* const changelog = "## 1.4.0 | 2025-03-02\n"
                              "+ New salvage route\n"
                              "+ Swarm waves scale\n"
                              "- Old menu removed\n"
                              "Balance pass\n"
                              "##1.3.9\n";

std::string goodArchive(const std::string& gameText = "#!/bin/sh\necho 1.4.0\n") {
    return ZipBuilder().file(gameExecutable, gameText, 0755).bytes();
}

// Drops the "   download N%" lines, whose count depends on how the bytes arrived.
std::string withoutProgress(const std::string& report) {
    std::istringstream lines(report);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("   download ", 0) != 0) {
            kept += line + "\n";
        }
    }
    return kept;
}

std::string checksumLine(std::string_view archive) {
    Core::Trust::Sha256 hash;
    hash.update(archive);
    return "macsha256 = " + hash.hexDigest() + "\n";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SelfCheck : public ::testing::Test {
protected:
    TempDir dir;
    fs::path root = dir / "install";
    Core::Install::InstallLayout layout{root};
    LoopbackServer server;
    std::string report;

    // Serves the release and returns the manifest's text; `extra` holds more manifest lines.
    std::string publish(const std::string& archive, const std::string& exe = "Ashenmarch.app",
                        const std::string& extra = {}) {
        const std::string manifest = "version = 1.4.0\nmacurl = " + server.url("/build.zip") +
                                     "\nmacsize = " + std::to_string(archive.size()) +
                                     "\nmacexe = " + exe + "\n" + extra;
        server.serve("/build.zip", archive);
        server.serve("/latest.txt", manifest);
        server.serve("/changelog.txt", changelog);
        return manifest;
    }

    int run(const std::string& manifestURL = {}, const Core::Trust::ReleaseKeys& keys = {}) {
        std::ostringstream out;
        const ReleaseEndpoints endpoints{manifestURL.empty() ? server.url("/latest.txt")
                                                             : manifestURL,
                                         server.url("/changelog.txt")};
        const int status =
            CLI::runSelfCheck(layout, endpoints, out, loopbackTransferOptions(), keys);
        report = out.str();
        return status;
    }

    std::string header(const std::string& size) {
        return "install root : " + root.string() + "\n" +
               "manifest     : version=1.4.0 size=" + size + " exe=Ashenmarch.app\n" +
               "url          : " + server.url("/build.zip") + "\n" + "changelog    : 2 entries\n" +
               "   v1.4.0 (2025-03-02)  +2 -1 *1\n" + "   v1.3.9 ()  +0 -0 *0\n";
    }
};

TEST_F(SelfCheck, SuccessfulRunReportsEveryStepAndInstalls) {
    const std::string archive = goodArchive();
    publish(archive);
    ASSERT_EQ(run(), 0) << report;

    const std::string size = std::to_string(archive.size());
    EXPECT_EQ(withoutProgress(report), header(size) + "downloaded   : " + size + " bytes\n" +
                                           "app exists   : true\n" + "binary exists: true\n" +
                                           "installed    : 1.4.0\n" + "re-extract   : ok\n" +
                                           "PASS\n");
    EXPECT_TRUE(contains(report, "   download 100%\n"));
    EXPECT_EQ(readFile(root / "installed.txt"), "1.4.0");
    EXPECT_FALSE(fs::exists(root / "update.zip"));
    EXPECT_EQ(fs::status(root / "build" / gameExecutable).permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);

    // A second run gives the same report and the same state.
    const std::string first = withoutProgress(report);
    ASSERT_EQ(run(), 0) << report;
    EXPECT_EQ(withoutProgress(report), first);
}

TEST_F(SelfCheck, ManifestWithoutVersionOrUrlFailsBeforeDownloading) {
    struct Case {
        const char* manifest;
        const char* line;
    };
    const Case cases[] = {
        {"", "manifest     : version= size=0 exe=Ashenmarch.app\n"},
        {"version=1.4.0\n", "manifest     : version=1.4.0 size=0 exe=Ashenmarch.app\n"},
        {"<html>404</html>", "manifest     : version= size=0 exe=Ashenmarch.app\n"},
    };
    for (const Case& c : cases) {
        server.serve("/latest.txt", c.manifest);
        EXPECT_EQ(run(), 1);
        EXPECT_EQ(report, "install root : " + root.string() + "\n" + c.line +
                              "FAIL: manifest has no version/url\n");
    }
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(SelfCheck, UnsafeBundleNameFailsBeforeDownloading) {
    publish(goodArchive(), "../../Evil.app");
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(
        contains(report, "FAIL: Error Domain=am Code=8 \"manifest has an unsafe macexe\"\n"))
        << report;
    EXPECT_EQ(server.requestsFor("/build.zip"), 0);
}

TEST_F(SelfCheck, UnreachableHostFailsWithTheNetworkError) {
    std::string deadAddress;
    {
        LoopbackServer gone;
        deadAddress = gone.url("/latest.txt");
    }
    EXPECT_EQ(run(deadAddress), 1);
    EXPECT_EQ(report.substr(0, report.find('\n') + 1), "install root : " + root.string() + "\n");
    EXPECT_TRUE(contains(report, "\nFAIL: Error Domain=curl Code=7 ")) << report;
}

TEST_F(SelfCheck, AnInstallRootThatCannotBeCreatedFailsAfterTheChangelog) {
    writeFile(dir / "blocker", "a file where a folder should be");
    layout.root = dir / "blocker/install";
    publish(goodArchive());
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(contains(report, "   v1.3.9 ()  +0 -0 *0\nFAIL: Error Domain=posix Code="))
        << report;
}

TEST_F(SelfCheck, ChangelogWithoutEntriesIsNoFailure) {
    publish(goodArchive());
    server.serve("/changelog.txt", "just prose, no headers\n");
    EXPECT_EQ(run(), 0) << report;
    EXPECT_TRUE(contains(report, "changelog    : 0 entries\n"));
    EXPECT_FALSE(contains(report, "   v"));
}

TEST_F(SelfCheck, WrongBundleFailsWithTheBareFailLine) {
    publish(ZipBuilder().file("Other.app/Contents/MacOS/ASHENMARCH", "x", 0755).bytes());
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(report.ends_with("app exists   : false\nbinary exists: false\nFAIL\n")) << report;
    EXPECT_FALSE(fs::exists(root / "installed.txt"));
}

TEST_F(SelfCheck, BundleWithoutTheExecutableStillPasses) {
    publish(ZipBuilder().file("Ashenmarch.app/Contents/Info.plist", "<plist/>").bytes());
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(
        contains(report, "app exists   : true\nbinary exists: false\ninstalled    : 1.4.0\n"))
        << report;
}

TEST_F(SelfCheck, ProgressLinesOncePerTenthOnlyWhenTheLengthIsKnown) {
    const std::string big =
        ZipBuilder().uncompressed().file(gameExecutable, std::string(2 << 20, 'x'), 0755).bytes();
    publish(big);
    ASSERT_EQ(run(), 0) << report;
    std::istringstream lines(report);
    int last = -1;
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("   download ", 0) == 0) {
            const int percent = std::stoi(line.substr(12));
            EXPECT_GT(percent, last);
            EXPECT_EQ(percent % 10, 0);
            last = percent;
            ++count;
        }
    }
    EXPECT_EQ(last, 100);
    EXPECT_GT(count, 1);

    server.serveChunked("/build.zip", big);
    ASSERT_EQ(run(), 0) << report;
    EXPECT_FALSE(contains(report, "   download"));
    EXPECT_TRUE(contains(report, "downloaded   : " + std::to_string(big.size()) + " bytes\n"));
}

TEST_F(SelfCheck, SignedReleasePassesAndReportsTheChecksum) {
    const TestKeyPair studio;
    const std::string archive = goodArchive();
    server.serve("/latest.txt.sig",
                 studio.sign(publish(archive, "Ashenmarch.app", checksumLine(archive))));
    ASSERT_EQ(run({}, studio.keys()), 0) << report;
    const std::string size = std::to_string(archive.size());
    EXPECT_EQ(withoutProgress(report), header(size) + "downloaded   : " + size + " bytes\n" +
                                           "sha256       : ok\n" + "app exists   : true\n" +
                                           "binary exists: true\n" + "installed    : 1.4.0\n" +
                                           "re-extract   : ok\n" + "PASS\n");
}

// Each reason a signature is refused is proven where releases are fetched; this shows the
// report it ends.
TEST_F(SelfCheck, BadSignatureFailsRightAfterTheInstallRootLine) {
    const TestKeyPair studio;
    const TestKeyPair stranger;
    const std::string archive = goodArchive();
    server.serve("/latest.txt.sig",
                 stranger.sign(publish(archive, "Ashenmarch.app", checksumLine(archive))));
    EXPECT_EQ(run({}, studio.keys()), 1);
    EXPECT_EQ(report, "install root : " + root.string() + "\n" +
                          "FAIL: Error Domain=am Code=10 \"release signature is not valid\" "
                          "(no release key matched the signature)\n");
    EXPECT_EQ(server.requestsFor("/build.zip"), 0);
    EXPECT_FALSE(fs::exists(root));
}

} // namespace
