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
    const struct {
        const char* name;
        std::string bytes;
        std::string signature;
        const char* refusal; // nullptr: accepted
    } rows[] = {
        {"primary", manifest, primary.sign(manifest), nullptr},
        {"backup, line ends around", manifest, "  " + backup.sign(manifest) + "\r\n", nullptr},
        {"tampered byte", tampered, primary.sign(manifest), "no release key matched the signature"},
        {"wrong key", manifest, stranger.sign(manifest), "no release key matched the signature"},
        {"missing", manifest, "", "signature missing"},
        {"blank", manifest, " \n", "signature missing"},
        {"garbage", manifest, "<html>404 Not Found</html>", "signature is not base64"},
        {"space inside", manifest, primary.sign(manifest).insert(10, " "),
         "signature is not base64"},
        {"wrong length", manifest, Core::Trust::encodeBase64(std::vector<unsigned char>(63, 7)),
         "signature is 63 bytes, expected 64"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto verify = [&] {
            Core::Trust::verifyManifestSignature(row.bytes, row.signature, keys);
        };
        if (row.refusal == nullptr) {
            EXPECT_NO_THROW(verify());
        } else {
            EXPECT_EQ(errorOf(verify).fullDescription(),
                      "Error Domain=am Code=10 \"release signature is not valid\" (" +
                          std::string(row.refusal) + ")");
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
    const struct {
        std::string primary, backup;
        const char* detail;
    } rows[] = {
        {"not a key", "", "primary release key is not base64"},
        {good, good.substr(0, 41), "backup release key is not base64"},
        {Core::Trust::encodeBase64(std::vector<unsigned char>(31)), "",
         "primary release key is 31 bytes, expected 32"},
        {spareBit, "", "primary release key is not base64"},
        {highByte, "", "primary release key is not base64"},
        {"\xd3\x94\xd3\x94", "", "primary release key is not base64"},
    };
    for (const auto& row : rows) {
        const Error error =
            errorOf([&] { Core::Trust::ReleaseKeys::parse(row.primary, row.backup); });
        EXPECT_TRUE(error.is(AmCode::BadSignature)) << row.detail;
        EXPECT_EQ(error.detail(), row.detail);
    }
    EXPECT_EQ(Core::Trust::ReleaseKeys::parse(" " + good + "\n", "").keys.size(), 1u);
}

} // namespace
