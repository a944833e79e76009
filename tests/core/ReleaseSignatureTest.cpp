#include "core/trust/ReleaseSignature.h"

#include "core/trust/Base64.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TestKeyPair.h"

#include <gtest/gtest.h>

namespace {

const std::string manifest = "version=1.4.0\nmacurl=https://host/a.zip\n";

TEST(ReleaseSignature, VerifiesAgainstPrimaryOrBackupAndRefusesEverythingElse) {
    const TestKeyPair primary, backup, stranger;
    const auto keys = Core::Trust::ReleaseKeys::parse(primary.publicText(), backup.publicText());
    std::string tampered = manifest;
    tampered[8] = '5';
    const std::tuple<std::string, std::string, const char*> rows[] = {
        // bytes, signature, refusal (nullptr: accepted)
        {manifest, primary.sign(manifest), nullptr},
        {manifest, "  " + backup.sign(manifest) + "\r\n", nullptr},
        {tampered, primary.sign(manifest), "no release key matched the signature"},
        {manifest, stranger.sign(manifest), "no release key matched the signature"},
        {manifest, " \n", "signature missing"},
        {manifest, "<html>404 Not Found</html>", "signature is not base64"},
        {manifest, Core::Trust::encodeBase64(std::vector<unsigned char>(63, 7)),
         "signature is 63 bytes, expected 64"},
    };
    for (const auto& [bytes, signature, refusal] : rows) {
        SCOPED_TRACE(signature);
        const auto verify = [&] {
            Core::Trust::verifyManifestSignature(bytes, signature, keys);
        };
        if (refusal == nullptr) {
            EXPECT_NO_THROW(verify());
        } else {
            EXPECT_EQ(errorOf(verify).fullDescription(),
                      "Error Domain=am Code=10 \"release signature is not valid\" (" +
                          std::string(refusal) + ")");
        }
    }
    const auto none = Core::Trust::ReleaseKeys::parse("", " \n");
    EXPECT_FALSE(none.required());
    EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(manifest, "", none));
}

TEST(ReleaseSignature, MalformedKeysAreRefusedNotIgnored) {
    const std::string good = TestKeyPair().publicText();
    // 'B' as the last digit sets a spare bit: a second spelling of some key, so refused.
    std::string spareBit = good;
    spareBit[41] = 'A';
    spareBit[42] = 'B';
    // Bytes past 0x7F were once read as base64 digits, giving a key from garbage.
    std::string highByte = good;
    highByte[10] = '\xd3';
    const std::tuple<std::string, std::string, const char*> rows[] = {
        {"not a key", "", "primary release key is not base64"},
        {good, good.substr(0, 41), "backup release key is not base64"},
        {Core::Trust::encodeBase64(std::vector<unsigned char>(31)), "",
         "primary release key is 31 bytes, expected 32"},
        {spareBit, "", "primary release key is not base64"},
        {highByte, "", "primary release key is not base64"},
    };
    for (const auto& [primary, backup, detail] : rows) {
        const Error error = errorOf([&] { Core::Trust::ReleaseKeys::parse(primary, backup); });
        EXPECT_TRUE(error.is(AmCode::BadSignature)) << detail;
        EXPECT_EQ(error.detail(), detail);
    }
    EXPECT_EQ(Core::Trust::ReleaseKeys::parse(" " + good + "\n", "").keys.size(), 1u);
}

} // namespace
