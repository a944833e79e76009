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
    // folder serving the row's files, signing build, manifest, its status, signature (nothing:
    // not found), refusal (empty: accepted)
    const std::tuple<std::string, bool, std::string, int, std::optional<std::string>, std::string>
        cases[] = {
            {"/unsigned-build", false, unsignedText, 200, std::nullopt, ""},
            {"/no-signature", true, signedText, 200, std::nullopt,
             "no signature at " + server.url("/no-signature/latest.txt.sig") +
                 " (HTTP status 404)"},
            {"/host-failing", true, signedText, 503, studio.sign(signedText),
             "no manifest at " + server.url("/host-failing/latest.txt") + " (HTTP status 503)"},
            {"/no-checksum", true, unsignedText, 200, studio.sign(unsignedText),
             "signed manifest has no macsha256"},
            {"/no-index-pin", true, signedText + index, 200, studio.sign(signedText + index),
             "signed manifest names macindex without macindexsha256"},
        };
    for (const auto& [folder, signingBuild, manifest, status, signature, refusal] : cases) {
        SCOPED_TRACE(folder);
        server.serve(folder + "/latest.txt", manifest, status);
        if (signature) {
            server.serve(folder + "/latest.txt.sig", *signature);
        }
        const std::string url = server.url(folder + "/latest.txt");
        const auto keys = signingBuild ? studio.keys() : Core::Trust::ReleaseKeys{};
        const auto fetchIt = [&] {
            return Core::fetchRelease(url, loopbackTransferOptions(), keys);
        };
        if (refusal.empty()) {
            EXPECT_EQ(fetchIt(), Manifest::parse(manifest));
        } else {
            EXPECT_EQ(errorOf(fetchIt).fullDescription(),
                      "Error Domain=am Code=10 \"release signature is not valid\" (" + refusal +
                          ")");
        }
        EXPECT_EQ(server.requestsFor(folder + "/latest.txt.sig"),
                  signingBuild && status == 200 ? 1 : 0);
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
