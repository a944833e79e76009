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
#include <chrono>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome publish(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = Publish::runPublish(args, out, err);
    return {status, out.str(), err.str()};
}

const std::string executable = "game binary";

void writeBuild(const fs::path& zip, const std::string& bundle = "Ashenmarch.app") {
    ZipBuilder()
        .folder(bundle + "/")
        .file(bundle + "/Contents/Info.plist", "<plist/>")
        .file(bundle + "/Contents/MacOS/ASHENMARCH", executable, 0755)
        .writeTo(zip);
}

ReleaseTime now() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

TEST(PublishTool, SignedReleaseVerifiesWithThePublishedKey) {
    TempDir dir;
    ASSERT_EQ(publish({"keygen", dir / "private.key", dir / "public.key"}).status, 0);
    EXPECT_EQ(fs::status(dir / "private.key").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    writeBuild(dir / "build.zip");

    const ReleaseTime before = now();
    const Outcome run =
        publish({"release", "--zip", dir / "build.zip", "--version", "1.4.0", "--url",
                 "https://host/ashenmarch-1.4.0.zip", "--out", dir / "site", "--notes",
                 "Winter update \xE2\x80\x94 new maps", "--key", dir / "private.key"});
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string zipBytes = readFile(dir / "build.zip");
    Core::Trust::Sha256 hash;
    hash.update(zipBytes);
    const std::string manifest = readFile(dir / "site/latest.txt");
    const std::optional<ReleaseTime> released = Manifest::parse(manifest).released;
    ASSERT_TRUE(released.has_value()) << manifest;
    EXPECT_TRUE(*released >= before && *released <= now());
    const std::string index = readFile(dir / "site/ashenmarch-1.4.0.zip.index");
    Core::Trust::Sha256 indexHash;
    indexHash.update(index);
    EXPECT_EQ(index, Core::Unpack::indexArchive(dir / "build.zip").serialize());
    EXPECT_EQ(manifest, "version=1.4.0\n"
                        "macurl=https://host/ashenmarch-1.4.0.zip\n"
                        "macsize=" +
                            std::to_string(zipBytes.size()) +
                            "\n"
                            "macexe=Ashenmarch.app\n"
                            "macsha256=" +
                            hash.hexDigest() +
                            "\n"
                            "macindex=https://host/ashenmarch-1.4.0.zip.index\n"
                            "macindexsha256=" +
                            indexHash.hexDigest() +
                            "\n"
                            "released=" +
                            formatReleaseTime(*released) +
                            "\n"
                            "notes=Winter update \xE2\x80\x94 new maps\n");

    const Core::Trust::ReleaseKeys keys =
        Core::Trust::ReleaseKeys::parse(readFile(dir / "public.key"), "");
    const std::string signature = readFile(dir / "site/latest.txt.sig");
    EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(manifest, signature, keys));
    EXPECT_THROW(Core::Trust::verifyManifestSignature(manifest + "\n", signature, keys), Error);

    // Publishing unsigned on purpose must not leave the old signature next to a new manifest,
    // and says that it removed it; rolling back is allowed when asked for.
    std::string said;
    for (const char* version : {"1.4.1", "1.3.0"}) {
        const Outcome again = publish({"release", "--zip", dir / "build.zip", "--version", version,
                                       "--url", "https://host/a.zip", "--out", dir / "site",
                                       "--unsigned", "--allow-downgrade"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(Manifest::parse(readFile(dir / "site/latest.txt")).version, version);
        said += again.out;
    }
    EXPECT_FALSE(fs::exists(dir / "site/latest.txt.sig"));
    EXPECT_NE(said.find("removed " + (dir / "site/latest.txt.sig").string()), std::string::npos);
}

TEST(PublishTool, KeygenNeverReplacesAFile) {
    TempDir dir;
    writeFile(dir / "public.key", "kept");
    const Outcome run = publish({"keygen", dir / "private.key", dir / "public.key"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("File exists"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "public.key"), "kept");
    EXPECT_FALSE(fs::exists(dir / "private.key"));

    ASSERT_EQ(publish({"keygen", dir / "a.key", dir / "b.key"}).status, 0);
    const std::string secret = readFile(dir / "a.key");
    EXPECT_EQ(publish({"keygen", dir / "a.key", dir / "c.key"}).status, 1);
    EXPECT_EQ(readFile(dir / "a.key"), secret);
    EXPECT_FALSE(fs::exists(dir / "c.key"));
}

TEST(PublishTool, RefusesWhatLaunchersWouldRefuseAndWritesNothing) {
    TempDir dir;
    writeBuild(dir / "build.zip");
    writeBuild(dir / "other.zip", "Other.app");
    ZipBuilder()
        .folder("Ashenmarch.app/Contents/MacOS/ASHENMARCH/")
        .writeTo(dir / "folder-only.zip");
    writeFile(dir / "page.zip", "<html>not a zip</html>");
    ZipBuilder()
        .file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "x")
        .file("../evil", "x")
        .writeTo(dir / "dot-dot.zip");
    ZipBuilder()
        .file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", "x")
        .file("Ashenmarch.app/a", "1")
        .file("./Ashenmarch.app/a", "2")
        .writeTo(dir / "twice.zip");
    writeFile(dir / "bad.key", "c2hvcnQ=\n");
    const std::string published = "version=2.0\nreleased=2026-01-01T00:00:00Z\n";
    writeFile(dir / "site/latest.txt.sig", "old signature\n");

    struct Case {
        std::string zip;
        std::vector<std::string> extra; // after the version, which is 2.1 unless given
        const char* complaint;
        std::string existing = {};     // latest.txt in --out, when not `published`
        bool unsignedOnPurpose = true; // adds --unsigned when no --key is given
    };
    const Case cases[] = {
        {"other.zip", {}, "does not contain the bundle Ashenmarch.app at its top level"},
        {"folder-only.zip",
         {},
         "does not contain the file Ashenmarch.app/Contents/MacOS/ASHENMARCH"},
        {"page.zip", {}, "launchers would refuse to unpack it: cannot read archive"},
        {"dot-dot.zip", {}, "launchers would refuse to unpack it: unsafe entry \"../evil\""},
        {"build.zip", {"--key", dir / "bad.key"}, "is not a private key"},
        {"build.zip", {}, "give --unsigned", {}, false},
        {"build.zip", {"--version", "2.0"}, "version 2.0 is already published"},
        {"build.zip", {"--version", "1.10"}, "version 1.10 is lower than 2.0"},
        {"build.zip",
         {"--version", "2.1-beta"},
         "cannot tell whether version 2.1-beta comes after"},
        {"build.zip",
         {"--allow-downgrade"},
         "is behind the release in",
         "version=2.0\nreleased=9999-01-01T00:00:00Z\n"},
        {"twice.zip", {}, "listed twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.complaint);
        const std::string existing = c.existing.empty() ? published : c.existing;
        writeFile(dir / "site/latest.txt", existing);
        std::vector<std::string> args = {
            "release", "--zip", dir / c.zip, "--url", "https://host/a.zip", "--out", dir / "site"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        if (std::find(args.begin(), args.end(), "--version") == args.end()) {
            args.insert(args.end(), {"--version", "2.1"});
        }
        if (c.unsignedOnPurpose && std::find(args.begin(), args.end(), "--key") == args.end()) {
            args.push_back("--unsigned");
        }
        const Outcome run = publish(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.complaint), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(readFile(dir / "site/latest.txt"), existing);
        EXPECT_EQ(readFile(dir / "site/latest.txt.sig"), "old signature\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "site"), fs::directory_iterator()), 2);
    }
}

TEST(PublishTool, OrdersVersionsAsDottedNumbers) {
    using std::strong_ordering;
    const std::tuple<const char*, const char*, std::optional<strong_ordering>> cases[] = {
        {"1.10", "1.9", strong_ordering::greater},
        {"1.4", "1.4.0", strong_ordering::equal},
        {"01.4", "1.4", strong_ordering::equal},
        {"1.4.0", "1.4.1", strong_ordering::less},
        {"2", "10", strong_ordering::less},
        {"123456789012345678901", "123456789012345678900", strong_ordering::greater},
        {"1.4-beta", "1.4", std::nullopt},
        {"1..4", "1.4", std::nullopt},
        {"", "1", std::nullopt},
    };
    for (const auto& [a, b, order] : cases) {
        EXPECT_EQ(Publish::compareVersions(a, b), order) << a << " vs " << b;
    }
}

TEST(PublishTool, BadArgumentsGiveUsage) {
    const std::vector<std::string> base = {"release", "--zip",           "b.zip", "--version", "1",
                                           "--url",   "https://h/a.zip", "--out", "site"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const std::vector<std::string> cases[] = {
        {},
        {"keygen", "only-one"},
        {"release", "--zip", "b.zip"},
        with({"--colour", "red"}),
        with({"--version", "2"}),
        with({"--exe", "../Ashenmarch.app"}),
        with({"--notes", "two\nlines"}),
        with({"--notes", "\x1b[2Kcleared"}),
        with({"--key", "k", "--unsigned"}),
        {"release", "--zip", "b.zip", "--version", "1", "--url", "ftp://h/a.zip", "--out", "s"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Outcome run = publish(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
        EXPECT_TRUE(run.out.empty());
    }
}

} // namespace
