#include "core/trust/ReleaseSignature.h"
#include "core/trust/Sha256.h"
#include "core/unpack/ArchiveIndex.h"
#include "platform/Error.h"
#include "publish/PublishCommand.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
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

TEST(PublishTool, SignedReleaseVerifiesWithThePublishedKey) {
    TempDir dir;
    ASSERT_EQ(publish({"keygen", dir / "private.key", dir / "public.key"}).status, 0);
    EXPECT_EQ(fs::status(dir / "private.key").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    writeBuild(dir / "build.zip");

    const Outcome run =
        publish({"release", "--zip", dir / "build.zip", "--version", "1.4.0", "--url",
                 "https://host/ashenmarch-1.4.0.zip", "--out", dir / "site", "--notes",
                 "Winter update \xE2\x80\x94 new maps", "--key", dir / "private.key"});
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string zipBytes = readFile(dir / "build.zip");
    Core::Trust::Sha256 hash;
    hash.update(zipBytes);
    const std::string manifest = readFile(dir / "site/latest.txt");
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
                            "notes=Winter update \xE2\x80\x94 new maps\n");

    const Core::Trust::ReleaseKeys keys =
        Core::Trust::ReleaseKeys::parse(readFile(dir / "public.key"), "");
    const std::string signature = readFile(dir / "site/latest.txt.sig");
    EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(manifest, signature, keys));
    EXPECT_THROW(Core::Trust::verifyManifestSignature(manifest + "\n", signature, keys), Error);

    // Publishing again unsigned must not leave the old signature next to a new manifest.
    ASSERT_EQ(publish({"release", "--zip", dir / "build.zip", "--version", "1.4.1", "--url",
                       "https://host/ashenmarch-1.4.1.zip", "--out", dir / "site"})
                  .status,
              0);
    EXPECT_FALSE(fs::exists(dir / "site/latest.txt.sig"));
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

TEST(PublishTool, RefusesArchivesAndKeysItCannotVouchFor) {
    TempDir dir;
    writeBuild(dir / "other.zip", "Other.app");
    ZipBuilder()
        .folder("Ashenmarch.app/Contents/MacOS/ASHENMARCH/")
        .writeTo(dir / "folder-only.zip");
    writeFile(dir / "page.zip", "<html>not a zip</html>");
    writeBuild(dir / "build.zip");
    const auto withGame = [&](const char* name, ZipBuilder zip) {
        zip.file("Ashenmarch.app/Contents/MacOS/ASHENMARCH", executable, 0755).writeTo(dir / name);
    };
    withGame("link-out.zip", ZipBuilder().symlink("Ashenmarch.app/lib", "../../lib"));
    withGame("twice.zip",
             ZipBuilder().file("Ashenmarch.app/a", "1").file("./Ashenmarch.app/a", "2"));
    writeFile(dir / "bad.key", "c2hvcnQ=\n");

    struct Case {
        fs::path zip;
        std::vector<std::string> extra;
        const char* complaint;
    };
    const Case cases[] = {
        {dir / "other.zip",
         {},
         "does not contain the file Ashenmarch.app/Contents/MacOS/ASHENMARCH"},
        {dir / "folder-only.zip", {}, "does not contain the file"},
        {dir / "page.zip", {}, "as a zip archive"},
        {dir / "missing.zip", {}, "as a zip archive"},
        {dir / "build.zip", {"--key", dir / "bad.key"}, "is not a private key"},
        {dir / "link-out.zip", {}, "symbolic link leads out of the destination"},
        {dir / "twice.zip", {}, "listed twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zip);
        std::vector<std::string> args = {
            "release", "--zip",     c.zip, "--version", "1", "--url", "https://host/a.zip",
            "--out",   dir / "site"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome run = publish(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.complaint), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir / "site"));
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
