#include "core/ReleaseFetch.h"

#include "core/trust/Sha256.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/TestKeyPair.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

std::string sha256Of(std::string_view bytes) {
    Core::Trust::Sha256 hash;
    hash.update(bytes);
    return hash.hexDigest();
}

class ReleaseFetch : public ::testing::Test {
protected:
    LoopbackServer server;
    const std::string archive = std::string(50'000, 'z');
    const std::string signedText = "version=2.0\nmacurl=" + server.url("/build.zip") +
                                   "\nmacsha256=" + sha256Of(archive) + "\n";
};

TEST_F(ReleaseFetch, SignatureIsFetchedAndCheckedOnlyWhenTheBuildHasAKey) {
    const TestKeyPair studio;
    const std::string unsignedText = "version=2.0\nmacurl=" + server.url("/build.zip") + "\n";
    struct Case {
        const char* name;
        Core::Trust::ReleaseKeys keys;
        std::string manifest;
        std::optional<std::string> signature; // nothing: latest.txt.sig is not found
        const char* refusal;                  // nullptr: accepted
    };
    const Case cases[] = {
        {"unsigned build", {}, unsignedText, std::nullopt, nullptr},
        {"signed", studio.keys(), signedText, studio.sign(signedText), nullptr},
        {"signature not found", studio.keys(), signedText, std::nullopt, "signature is not base64"},
        {"manifest changed after signing", studio.keys(), signedText + "macexe=Other.app\n",
         studio.sign(signedText), "no release key matched the signature"},
        {"signed without checksum", studio.keys(), unsignedText, studio.sign(unsignedText),
         "signed manifest has no macsha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer host;
        host.serve("/latest.txt", c.manifest);
        if (c.signature) {
            host.serve("/latest.txt.sig", *c.signature);
        }
        const auto fetchIt = [&] {
            return Core::fetchRelease(host.url("/latest.txt"), loopbackTransferOptions(), c.keys);
        };
        if (c.refusal == nullptr) {
            EXPECT_EQ(fetchIt(), Manifest::parse(c.manifest));
        } else {
            const Error error = errorOf(fetchIt);
            EXPECT_TRUE(error.is(AmCode::BadSignature));
            EXPECT_EQ(error.message(), "release signature is not valid");
            EXPECT_EQ(error.detail(), c.refusal);
        }
        const auto requests = host.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].path, "/latest.txt");
        EXPECT_EQ(requests.size(), c.keys.required() ? 2u : 1u);
        if (requests.size() == 2) {
            EXPECT_EQ(requests[1].path, "/latest.txt.sig");
        }
    }
}

} // namespace
