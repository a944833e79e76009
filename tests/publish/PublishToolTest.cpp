#include "core/trust/ReleaseSignature.h"
#include "core/unpack/ArchiveIndex.h"
#include "formats/Manifest.h"
#include "platform/Error.h"
#include "publish/PublishCommand.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string executable = "Ashenmarch.app/Contents/MacOS/ASHENMARCH";

// The exit status and what went to standard error.
std::pair<int, std::string> publish(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    return {Publish::runPublish(args, out, err), err.str()}; // in this order, being braced
}

// Publishes <dir>/<zip> as <version> for https://host/a.zip into <dir>/site.
std::pair<int, std::string> release(const TempDir& dir, const char* zip, const char* version,
                                    const std::vector<std::string>& flags) {
    std::vector<std::string> args = {
        "release", "--zip",     dir / zip, "--version", version, "--url", "https://host/a.zip",
        "--out",   dir / "site"};
    args.insert(args.end(), flags.begin(), flags.end());
    return publish(args);
}

TEST(PublishTool, PublishesWhatLaunchersAcceptAndNeverLeavesAStaleSignature) {
    TempDir dir;
    ASSERT_EQ(publish({"keygen", dir / "private.key", dir / "public.key"}).first, 0);
    EXPECT_EQ(fs::status(dir / "private.key").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    ZipBuilder().file(executable, "game", 0755).writeTo(dir / "b.zip");
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const auto [status, err] =
        release(dir, "b.zip", "1.4.0",
                {"--notes", "Winter \xE2\x80\x94 maps", "--key", dir / "private.key"});
    ASSERT_EQ(status, 0) << err;

    const std::string text = readFile(dir / "site/latest.txt");
    const Manifest manifest = Manifest::parse(text);
    const std::string index = readFile(dir / "site/a.zip.index");
    EXPECT_EQ(index, Core::Unpack::indexArchive(dir / "b.zip").serialize());
    ASSERT_TRUE(manifest.released && *manifest.released >= before) << text;
    EXPECT_EQ(manifest,
              (Manifest{"1.4.0", "https://host/a.zip",
                        static_cast<std::int64_t>(fs::file_size(dir / "b.zip")), "Ashenmarch.app",
                        "Winter \xE2\x80\x94 maps", sha256Of(readFile(dir / "b.zip")),
                        manifest.released, "https://host/a.zip.index", sha256Of(index)}));
    const auto keys = Core::Trust::ReleaseKeys::parse(readFile(dir / "public.key"), "");
    const std::string signature = readFile(dir / "site/latest.txt.sig");
    EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(text, signature, keys));

    EXPECT_EQ(release(dir, "b.zip", "1.3", {"--unsigned", "--allow-downgrade"}).first, 0);
    EXPECT_EQ(Manifest::parse(readFile(dir / "site/latest.txt")).version, "1.3");
    EXPECT_FALSE(fs::exists(dir / "site/latest.txt.sig"));

    // Keys are never written over, the private one above all.
    const std::string keyFiles = readFile(dir / "private.key") + readFile(dir / "public.key");
    EXPECT_EQ(publish({"keygen", dir / "private.key", dir / "other.pub"}).first, 1);
    EXPECT_EQ(publish({"keygen", dir / "new.key", dir / "public.key"}).first, 1);
    EXPECT_EQ(readFile(dir / "private.key") + readFile(dir / "public.key"), keyFiles);
}

// Versions compare as dotted numbers: 1.9 comes before 1.10.
TEST(PublishTool, RefusesWhatLaunchersWouldRefuseOrAVersionNotAboveThePublishedOneAsDottedNumbers) {
    TempDir dir;
    ZipBuilder().file(executable, "game", 0755).writeTo(dir / "b.zip");
    ZipBuilder().file("Other.app/Contents/MacOS/ASHENMARCH", "x").writeTo(dir / "other.zip");
    ZipBuilder().file(executable, "x").file("../evil", "x").writeTo(dir / "dot-dot.zip");
    writeFile(dir / "bad.key", "c2hvcnQ=\n");
    writeFile(dir / "site/latest.txt.sig", "old signature\n");
    const struct {
        const char* zip;
        const char* version;
        std::vector<std::string> flags;
        const char* complaint;
        const char* released = "2026-01-01T00:00:00Z"; // of version 1.10, published already
    } rows[] = {
        {"other.zip", "2.0", {"--unsigned"}, "does not contain the bundle Ashenmarch.app at its"},
        {"dot-dot.zip", "2.0", {"--unsigned"}, "refuse to unpack it: unsafe entry \"../evil\""},
        {"b.zip", "2.0", {"--key", dir / "bad.key"}, "is not a private key"},
        {"b.zip", "2.0", {}, "give --unsigned"},
        {"b.zip", "1.10.0", {"--unsigned"}, "version 1.10.0 is already published"},
        {"b.zip", "1.9", {"--unsigned"}, "version 1.9 is lower than 1.10"},
        {"b.zip", "2.0-beta", {"--unsigned"}, "cannot tell whether version 2.0-beta comes after"},
        {"b.zip", "2.0", {"--unsigned"}, "is behind the release in", "9999-01-01T00:00:00Z"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.complaint);
        const std::string existing = "version=1.10\nreleased=" + std::string(row.released) + "\n";
        writeFile(dir / "site/latest.txt", existing);
        const auto [status, err] = release(dir, row.zip, row.version, row.flags);
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find(row.complaint), std::string::npos) << err;
        EXPECT_EQ(readFile(dir / "site/latest.txt"), existing);
        EXPECT_EQ(readFile(dir / "site/latest.txt.sig"), "old signature\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "site"), {}), 2);
    }
}

} // namespace
