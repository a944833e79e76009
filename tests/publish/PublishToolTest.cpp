#include "core/trust/ReleaseSignature.h"
#include "core/trust/Sha256.h"
#include "core/unpack/ArchiveIndex.h"
#include "formats/Manifest.h"
#include "platform/Error.h"
#include "publish/PublishCommand.h"
#include "publish/VersionOrder.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome publish(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = Publish::runPublish(args, out, err);
    return {status, out.str(), err.str()};
}

std::string sha256Of(const std::string& bytes) {
    Core::Trust::Sha256 hash;
    hash.update(bytes);
    return hash.hexDigest();
}

void writeBuild(const fs::path& zip, const std::string& bundle = "Ashenmarch.app") {
    ZipBuilder().file(bundle + "/Contents/MacOS/ASHENMARCH", "game", 0755).writeTo(zip);
}

TEST(PublishTool, PublishesWhatLaunchersAcceptAndNeverLeavesAStaleSignature) {
    TempDir dir;
    ASSERT_EQ(publish({"keygen", dir / "private.key", dir / "public.key"}).status, 0);
    EXPECT_EQ(fs::status(dir / "private.key").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    writeBuild(dir / "build.zip");
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const Outcome run = publish({"release", "--zip", dir / "build.zip", "--version", "1.4.0",
                                 "--url", "https://host/a.zip", "--out", dir / "site", "--notes",
                                 "Winter \xE2\x80\x94 maps", "--key", dir / "private.key"});
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string text = readFile(dir / "site/latest.txt");
    const Manifest manifest = Manifest::parse(text);
    const std::string index = readFile(dir / "site/a.zip.index");
    EXPECT_EQ(index, Core::Unpack::indexArchive(dir / "build.zip").serialize());
    ASSERT_TRUE(manifest.released && *manifest.released >= before) << text;
    EXPECT_EQ(manifest, (Manifest{"1.4.0", "https://host/a.zip",
                                  static_cast<std::int64_t>(fs::file_size(dir / "build.zip")),
                                  "Ashenmarch.app", "Winter \xE2\x80\x94 maps",
                                  sha256Of(readFile(dir / "build.zip")), manifest.released,
                                  "https://host/a.zip.index", sha256Of(index)}));
    const auto keys = Core::Trust::ReleaseKeys::parse(readFile(dir / "public.key"), "");
    const std::string signature = readFile(dir / "site/latest.txt.sig");
    EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(text, signature, keys));
    EXPECT_THROW(Core::Trust::verifyManifestSignature(text + "\n", signature, keys), Error);

    const Outcome unsignedRun =
        publish({"release", "--zip", dir / "build.zip", "--version", "1.3", "--url",
                 "https://host/a.zip", "--out", dir / "site", "--unsigned", "--allow-downgrade"});
    ASSERT_EQ(unsignedRun.status, 0) << unsignedRun.err;
    EXPECT_EQ(Manifest::parse(readFile(dir / "site/latest.txt")).version, "1.3");
    EXPECT_FALSE(fs::exists(dir / "site/latest.txt.sig"));
    EXPECT_NE(unsignedRun.out.find("removed " + (dir / "site/latest.txt.sig").string()),
              std::string::npos);

    // Keys are never written over, the private one above all.
    const std::string secret = readFile(dir / "private.key");
    EXPECT_EQ(publish({"keygen", dir / "private.key", dir / "other.pub"}).status, 1);
    EXPECT_EQ(publish({"keygen", dir / "new.key", dir / "public.key"}).status, 1);
    EXPECT_EQ(readFile(dir / "private.key"), secret);
    EXPECT_FALSE(fs::exists(dir / "other.pub"));
    EXPECT_FALSE(fs::exists(dir / "new.key"));
}

TEST(PublishTool, RefusesWhatLaunchersWouldRefuseAndWritesNothing) {
    TempDir dir;
    writeBuild(dir / "build.zip");
    writeBuild(dir / "other.zip", "Other.app");
    ZipBuilder().folder("Ashenmarch.app/Contents/MacOS/ASHENMARCH/").writeTo(dir / "folder.zip");
    writeFile(dir / "page.zip", "<html>not a zip</html>");
    ZipBuilder()
        .file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "x")
        .file("../evil", "x")
        .writeTo(dir / "dot-dot.zip");
    writeFile(dir / "bad.key", "c2hvcnQ=\n");
    const std::string published = "version=2.0\nreleased=2026-01-01T00:00:00Z\n";
    writeFile(dir / "site/latest.txt.sig", "old signature\n");
    const struct {
        const char* zip;
        const char* version;
        std::vector<std::string> flags;
        const char* complaint;
        const char* existing = nullptr; // latest.txt in --out, when not `published`
    } rows[] = {
        {"other.zip", "2.1", {"--unsigned"}, "does not contain the bundle Ashenmarch.app at its"},
        {"folder.zip", "2.1", {"--unsigned"}, "does not contain the file Ashenmarch.app/Contents"},
        {"page.zip", "2.1", {"--unsigned"}, "launchers would refuse to unpack it: cannot read"},
        {"dot-dot.zip", "2.1", {"--unsigned"}, "refuse to unpack it: unsafe entry \"../evil\""},
        {"build.zip", "2.1", {"--key", dir / "bad.key"}, "is not a private key"},
        {"build.zip", "2.1", {}, "give --unsigned"},
        {"build.zip", "2.0", {"--unsigned"}, "version 2.0 is already published"},
        {"build.zip", "1.10", {"--unsigned"}, "version 1.10 is lower than 2.0"},
        {"build.zip",
         "2.1",
         {"--unsigned", "--allow-downgrade"},
         "is behind the release in",
         "version=2.0\nreleased=9999-01-01T00:00:00Z\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.complaint);
        const std::string existing = row.existing ? row.existing : published;
        writeFile(dir / "site/latest.txt", existing);
        std::vector<std::string> args = {"release",         "--zip",     dir / row.zip,
                                         "--version",       row.version, "--url",
                                         "https://h/a.zip", "--out",     dir / "site"};
        args.insert(args.end(), row.flags.begin(), row.flags.end());
        const Outcome run = publish(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(row.complaint), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(readFile(dir / "site/latest.txt"), existing);
        EXPECT_EQ(readFile(dir / "site/latest.txt.sig"), "old signature\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "site"), {}), 2);
    }
}

TEST(PublishTool, OrdersVersionsAsDottedNumbers) {
    using std::strong_ordering;
    const std::tuple<const char*, const char*, std::optional<strong_ordering>> rows[] = {
        {"1.10", "1.9", strong_ordering::greater},
        {"1.4", "01.4.0", strong_ordering::equal},
        {"2", "10", strong_ordering::less},
        {"123456789012345678901", "123456789012345678900", strong_ordering::greater},
        {"1.4-beta", "1.4", std::nullopt},
        {"1..4", "1.4", std::nullopt},
    };
    for (const auto& [a, b, order] : rows) {
        EXPECT_EQ(Publish::compareVersions(a, b), order) << a << " vs " << b;
    }
}

TEST(PublishTool, BadArgumentsGiveUsage) {
    const std::vector<std::string> base = {"release", "--zip",           "b.zip", "--version", "1",
                                           "--url",   "https://h/a.zip", "--out", "site"};
    const std::vector<std::vector<std::string>> extras = {
        {"--version", "2"},
        {"--exe", "../Ashenmarch.app"},
        {"--notes", "\x1b[2Kcleared"},
        {"--key", "k", "--unsigned"},
    };
    for (auto args : extras) {
        args.insert(args.begin(), base.begin(), base.end());
        const Outcome run = publish(args);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(args);
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(publish({}).status, 2);
    EXPECT_EQ(publish({"release", "--zip", "b.zip", "--version", "1", "--url", "ftp://h/a.zip",
                       "--out", "site"})
                  .status,
              2);
}

} // namespace
