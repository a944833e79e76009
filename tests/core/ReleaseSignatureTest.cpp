#include "core/trust/ReleaseSignature.h"

#include "core/trust/Base64.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TestKeyPair.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string manifest =
    "version=1.4.0\nmacurl=https://host/a.zip\nmacsha256=" + std::string(64, 'a') + "\n";

TEST(ReleaseSignature, VerifiesAgainstPrimaryOrBackupAndRefusesEverythingElse) {
    const TestKeyPair primary, backup, stranger;
    const Core::Trust::ReleaseKeys keys =
        Core::Trust::ReleaseKeys::parse(primary.publicText(), backup.publicText());
    std::string tampered = manifest;
    tampered[8] = '5';
    const std::string shortSignature(Core::Trust::encodeBase64(std::vector<unsigned char>(63, 7)));

    struct Case {
        const char* name;
        std::string bytes;
        std::string signature;
        const char* refusal; // nullptr: accepted
    };
    const Case cases[] = {
        {"primary", manifest, primary.sign(manifest), nullptr},
        {"backup", manifest, backup.sign(manifest), nullptr},
        {"line end around", manifest, "  " + primary.sign(manifest) + "\r\n", nullptr},
        {"tampered byte", tampered, primary.sign(manifest), "no release key matched the signature"},
        {"wrong key", manifest, stranger.sign(manifest), "no release key matched the signature"},
        {"missing", manifest, "", "signature missing"},
        {"blank", manifest, " \n", "signature missing"},
        {"garbage", manifest, "<html>404 Not Found</html>", "signature is not base64"},
        {"space inside", manifest, primary.sign(manifest).insert(10, " "),
         "signature is not base64"},
        {"wrong length", manifest, shortSignature, "signature is 63 bytes, expected 64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.refusal == nullptr) {
            EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(c.bytes, c.signature, keys));
            continue;
        }
        const Error error =
            errorOf([&] { Core::Trust::verifyManifestSignature(c.bytes, c.signature, keys); });
        EXPECT_TRUE(error.is(AmCode::BadSignature));
        EXPECT_EQ(error.message(), "release signature is not valid");
        EXPECT_EQ(error.detail(), c.refusal);
    }
}

TEST(ReleaseSignature, WithoutKeysNothingIsRequired) {
    const Core::Trust::ReleaseKeys none = Core::Trust::ReleaseKeys::parse("", " \n");
    EXPECT_FALSE(none.required());
    EXPECT_NO_THROW(Core::Trust::verifyManifestSignature(manifest, "", none));
    EXPECT_NO_THROW(Core::Trust::requireSignedChecksum(Manifest{}, none));
}

TEST(ReleaseSignature, MalformedKeysAreRefusedNotIgnored) {
    const TestKeyPair pair;
    const std::string good = pair.publicText();
    // 'B' as the last digit sets a spare bit: a second spelling of some key, so refused.
    std::string nonCanonical = good;
    nonCanonical[42] = 'B';
    nonCanonical[41] = 'A';
    struct Case {
        std::string primary, backup;
        const char* detail;
    };
    const Case cases[] = {
        {"not a key", "", "primary release key is not base64"},
        {good, good.substr(0, 41), "backup release key is not base64"},
        {Core::Trust::encodeBase64(std::vector<unsigned char>(31)), "",
         "primary release key is 31 bytes, expected 32"},
        {nonCanonical, "", "primary release key is not base64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.detail);
        const Error error = errorOf([&] { Core::Trust::ReleaseKeys::parse(c.primary, c.backup); });
        EXPECT_TRUE(error.is(AmCode::BadSignature));
        EXPECT_EQ(error.detail(), c.detail);
    }
    EXPECT_EQ(Core::Trust::ReleaseKeys::parse(" " + good + "\n", "").keys.size(), 1u);
}

TEST(ReleaseSignature, SignedManifestMustCarryChecksum) {
    const TestKeyPair pair;
    const Core::Trust::ReleaseKeys keys = Core::Trust::ReleaseKeys::parse(pair.publicText(), "");
    Manifest withoutChecksum;
    withoutChecksum.version = "1.4.0";
    const Error error = errorOf([&] { Core::Trust::requireSignedChecksum(withoutChecksum, keys); });
    EXPECT_TRUE(error.is(AmCode::BadSignature));
    EXPECT_EQ(error.detail(), "signed manifest has no macsha256");

    Manifest withChecksum = withoutChecksum;
    withChecksum.sha256 = std::string(64, 'f');
    EXPECT_NO_THROW(Core::Trust::requireSignedChecksum(withChecksum, keys));
}

} // namespace
