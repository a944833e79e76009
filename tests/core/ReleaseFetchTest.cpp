#include "core/ReleaseFetch.h"

#include "core/trust/Sha256.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestKeyPair.h"

#include <gtest/gtest.h>

#include <optional>

namespace fs = std::filesystem;

namespace {

std::string sha256Of(std::string_view bytes) {
    Core::Trust::Sha256 hash;
    hash.update(bytes);
    return hash.hexDigest();
}

class ReleaseFetch : public ::testing::Test {
protected:
    LoopbackServer server;
    TempDir dir;
    const std::string archive = std::string(50'000, 'z');
    const std::string signedText = "version=2.0\nmacurl=" + server.url("/build.zip") +
                                   "\nmacsha256=" + sha256Of(archive) + "\n";
};

TEST_F(ReleaseFetch, SignatureIsFetchedAndCheckedOnlyWhenTheBuildHasAKey) {
    const TestKeyPair studio;
    const std::string unsignedText = "version=2.0\nmacurl=" + server.url("/build.zip") + "\n";
    struct Case {
        std::string folder; // where this row's release files are served
        Core::Trust::ReleaseKeys keys;
        std::string manifest;
        std::optional<std::string> signature; // nothing: latest.txt.sig is not found
        std::string refusal;                  // empty: accepted
        int manifestStatus = 200;
    };
    const Case cases[] = {
        {"/unsigned-build", {}, unsignedText, std::nullopt, ""},
        {"/signed", studio.keys(), signedText, studio.sign(signedText), ""},
        {"/no-signature", studio.keys(), signedText, std::nullopt,
         "no signature at " + server.url("/no-signature/latest.txt.sig") + " (HTTP status 404)"},
        {"/host-failing", studio.keys(), signedText, studio.sign(signedText),
         "no manifest at " + server.url("/host-failing/latest.txt") + " (HTTP status 503)", 503},
        {"/changed", studio.keys(), signedText + "macexe=Other.app\n", studio.sign(signedText),
         "no release key matched the signature"},
        {"/no-checksum", studio.keys(), unsignedText, studio.sign(unsignedText),
         "signed manifest has no macsha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        server.serve(c.folder + "/latest.txt", c.manifest, c.manifestStatus);
        if (c.signature) {
            server.serve(c.folder + "/latest.txt.sig", *c.signature);
        }
        const auto fetchIt = [&] {
            return Core::fetchRelease(server.url(c.folder + "/latest.txt"),
                                      loopbackTransferOptions(), c.keys);
        };
        if (c.refusal.empty()) {
            EXPECT_EQ(fetchIt(), Manifest::parse(c.manifest));
        } else {
            const Error error = errorOf(fetchIt);
            EXPECT_TRUE(error.is(AmCode::BadSignature));
            EXPECT_EQ(error.message(), "release signature is not valid");
            EXPECT_EQ(error.detail(), c.refusal);
        }
        EXPECT_EQ(server.requestsFor(c.folder + "/latest.txt"), 1);
        EXPECT_EQ(server.requestsFor(c.folder + "/latest.txt.sig"),
                  c.keys.required() && c.manifestStatus == 200 ? 1 : 0);
    }
}

TEST_F(ReleaseFetch, MacsizeBindsOnlyASignedRelease) {
    const TestKeyPair studio;
    constexpr std::size_t MiB = 1024 * 1024;
    const std::size_t limit = 3 * MiB; // 2 MiB declared, and the margin is at least 1 MiB
    const struct {
        const char* name;
        Core::Trust::ReleaseKeys keys;
        std::size_t bodyBytes;
        bool announced; // with a Content-Length
        bool refused;
    } cases[] = {
        {"signed, up to the margin", studio.keys(), limit, true, false},
        {"signed, past it", studio.keys(), limit + 1, true, true},
        {"signed, past it without a length", studio.keys(), limit + 100 * 1024, false, true},
        {"unsigned, where the size is a hint", {}, 3 * limit, true, false},
    };
    Manifest manifest;
    manifest.url = server.url("/build.zip");
    manifest.size = 2 * MiB;
    const fs::path to = dir / "update.zip";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body(c.bodyBytes, 'z');
        if (c.announced) {
            server.serve("/build.zip", body);
        } else {
            server.serveChunked("/build.zip", body);
        }
        writeFile(to, "earlier archive");
        const auto run = [&] {
            Core::downloadRelease(manifest, to, {}, loopbackTransferOptions(), c.keys);
        };
        if (!c.refused) {
            run();
            EXPECT_EQ(fs::file_size(to), c.bodyBytes);
            continue;
        }
        const Error error = errorOf(run);
        EXPECT_TRUE(error.is(AmCode::ReleaseFileTooLarge)) << error.fullDescription();
        EXPECT_EQ(error.message(), "release file too large");
        EXPECT_EQ(readFile(to), "earlier archive");
        EXPECT_FALSE(fs::exists(dir / "update.zip.part"));
    }
}

} // namespace
