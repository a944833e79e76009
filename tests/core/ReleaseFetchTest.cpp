#include "core/ReleaseFetch.h"

#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/TestKeyPair.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class ReleaseFetch : public ::testing::Test {
protected:
    LoopbackServer server;
    TempDir dir;
    const TestKeyPair studio;
};

TEST_F(ReleaseFetch, SignatureIsFetchedAndCheckedOnlyWhenTheBuildHasAKey) {
    const std::string unsignedText = "version=2.0\nmacurl=" + server.url("/build.zip") + "\n";
    const std::string signedText = unsignedText + "macsha256=" + sha256Of("zip") + "\n";
    const std::string index = "macindex=" + server.url("/build.zip.index") + "\n";
    const struct {
        std::string folder; // where this row's release files are served
        bool signingBuild;
        std::string manifest;
        std::optional<std::string> signature; // nothing: latest.txt.sig is not found
        std::string refusal;                  // empty: accepted
        int manifestStatus = 200;
    } cases[] = {
        {"/unsigned-build", false, unsignedText, std::nullopt, ""},
        {"/no-signature", true, signedText, std::nullopt,
         "no signature at " + server.url("/no-signature/latest.txt.sig") + " (HTTP status 404)"},
        {"/host-failing", true, signedText, studio.sign(signedText),
         "no manifest at " + server.url("/host-failing/latest.txt") + " (HTTP status 503)", 503},
        {"/no-checksum", true, unsignedText, studio.sign(unsignedText),
         "signed manifest has no macsha256"},
        {"/no-index-pin", true, signedText + index, studio.sign(signedText + index),
         "signed manifest names macindex without macindexsha256"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        server.serve(c.folder + "/latest.txt", c.manifest, c.manifestStatus);
        if (c.signature) {
            server.serve(c.folder + "/latest.txt.sig", *c.signature);
        }
        const auto fetchIt = [&] {
            return Core::fetchRelease(server.url(c.folder + "/latest.txt"),
                                      loopbackTransferOptions(),
                                      c.signingBuild ? studio.keys() : Core::Trust::ReleaseKeys{});
        };
        if (c.refusal.empty()) {
            EXPECT_EQ(fetchIt(), Manifest::parse(c.manifest));
        } else {
            const Error error = errorOf(fetchIt);
            EXPECT_EQ(error.fullDescription(),
                      "Error Domain=am Code=10 \"release signature is not valid\" (" + c.refusal +
                          ")");
        }
        EXPECT_EQ(server.requestsFor(c.folder + "/latest.txt.sig"),
                  c.signingBuild && c.manifestStatus == 200 ? 1 : 0);
    }
}

TEST_F(ReleaseFetch, MacsizeBindsOnlyASignedRelease) {
    constexpr std::size_t MiB = 1024 * 1024;
    const std::size_t limit = 3 * MiB; // 2 MiB declared, and the margin is at least 1 MiB
    const std::tuple<const char*, bool, std::size_t, bool, bool> cases[] = {
        // name, signing build, body bytes, with a Content-Length, refused
        {"signed, up to the margin", true, limit, true, false},
        {"signed, past it", true, limit + 1, true, true},
        {"signed, past it without a length", true, limit + 100 * 1024, false, true},
        {"unsigned, where the size is a hint", false, 3 * limit, true, false},
    };
    Manifest manifest;
    manifest.url = server.url("/build.zip");
    manifest.size = 2 * MiB;
    const fs::path to = dir / "update.zip";
    for (const auto& [name, signingBuild, bodyBytes, announced, refused] : cases) {
        SCOPED_TRACE(name);
        const std::string body(bodyBytes, 'z');
        if (announced) {
            server.serve("/build.zip", body);
        } else {
            server.serveChunked("/build.zip", body);
        }
        writeFile(to, "earlier archive");
        const auto run = [&] {
            Core::downloadRelease(manifest, to, {}, loopbackTransferOptions(),
                                  signingBuild ? studio.keys() : Core::Trust::ReleaseKeys{});
        };
        if (!refused) {
            run();
            EXPECT_EQ(fs::file_size(to), bodyBytes);
            continue;
        }
        EXPECT_TRUE(errorOf(run).is(AmCode::ReleaseFileTooLarge));
        EXPECT_EQ(readFile(to), "earlier archive");
        EXPECT_FALSE(fs::exists(dir / "update.zip.part"));
    }
}

} // namespace
