// The release signature check stands between a compromised host and every player. The input is
// "signature NUL primary key NUL backup key NUL manifest bytes". For any input:
// - Core::Trust::ReleaseKeys::parse throws "am" 10 exactly when a key text is neither blank nor the
// base64
//   of 32 bytes, and otherwise returns those keys in order;
// - no signature text is accepted for a manifest unless it is the real signature of the
//   fuzzer's own key over those exact bytes (Ed25519 signing is deterministic, and finding
//   another would mean forging one);
// - the real signature, with a line end after it, is accepted from the primary or the backup
//   key; every refusal is "am" 10; a build without keys accepts anything.
#include "FuzzSupport.h"
#include "core/trust/Base64.h"
#include "core/trust/ReleaseSignature.h"
#include "platform/Error.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

struct TestKey {
    Core::Trust::ReleaseKeys::PublicKey publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
};

const TestKey& testKey() {
    static const TestKey key = [] {
        require(sodium_init() >= 0, "libsodium starts");
        TestKey made;
        std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
        seed.fill(0x5a);
        crypto_sign_seed_keypair(made.publicKey.data(), made.secretKey.data(), seed.data());
        return made;
    }();
    return key;
}

std::vector<unsigned char> realSignature(std::string_view manifest) {
    std::vector<unsigned char> signature(crypto_sign_BYTES);
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(manifest.data()), manifest.size(),
                         testKey().secretKey.data());
    return signature;
}

// What parsing one key text must give: no key (blank), a key, or a refusal (nullopt).
std::optional<std::vector<Core::Trust::ReleaseKeys::PublicKey>>
expectedKeys(std::string_view text) {
    const auto bytes = Core::Trust::decodeBase64(text);
    if (!bytes || (bytes->size() != 0 && bytes->size() != crypto_sign_PUBLICKEYBYTES)) {
        return std::nullopt;
    }
    std::vector<Core::Trust::ReleaseKeys::PublicKey> keys;
    if (!bytes->empty()) {
        keys.emplace_back();
        std::copy(bytes->begin(), bytes->end(), keys.back().begin());
    }
    return keys;
}

// The parsed keys, or nothing when parsing refused them as it had to.
std::optional<Core::Trust::ReleaseKeys> checkedParse(std::string_view primary,
                                                     std::string_view backup) {
    auto expected = expectedKeys(primary);
    const auto expectedBackup = expectedKeys(backup);
    const bool mustRefuse = !expected || !expectedBackup;
    try {
        Core::Trust::ReleaseKeys keys = Core::Trust::ReleaseKeys::parse(primary, backup);
        require(!mustRefuse, "a malformed release key is refused");
        expected->insert(expected->end(), expectedBackup->begin(), expectedBackup->end());
        require(keys.keys == *expected, "release keys parse to their bytes, primary first");
        return keys;
    } catch (const Error& error) {
        require(error.is(AmCode::BadSignature), "a refused release key is error am 10");
        require(mustRefuse, "a well-formed release key is accepted");
        return std::nullopt;
    }
}

bool accepted(std::string_view manifest, std::string_view signature,
              const Core::Trust::ReleaseKeys& keys) {
    try {
        Core::Trust::verifyManifestSignature(manifest, signature, keys);
        return true;
    } catch (const Error& error) {
        require(error.is(AmCode::BadSignature), "a refused signature is error am 10");
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [signature, primary, backup, manifest] = fieldsOf<4>(textOf(data, size));
    const Core::Trust::ReleaseKeys ownKey{{testKey().publicKey}};

    if (accepted(manifest, signature, ownKey)) {
        require(Core::Trust::decodeBase64(signature) == realSignature(manifest),
                "only the real signature is accepted");
    }
    require(accepted(manifest, signature, Core::Trust::ReleaseKeys{}),
            "a build without keys accepts anything");

    // The fuzzed keys come first, so the real signature is also checked against a backup key.
    Core::Trust::ReleaseKeys keys =
        checkedParse(primary, backup).value_or(Core::Trust::ReleaseKeys{});
    keys.keys.push_back(testKey().publicKey);
    const std::string published = Core::Trust::encodeBase64(realSignature(manifest)) + "\n";
    require(accepted(manifest, published, keys), "the real signature is accepted");
    return 0;
}
