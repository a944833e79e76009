#include "support/TestKeyPair.h"

#include "core/trust/Base64.h"

#include <sodium.h>

#include <stdexcept>

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64);

TestKeyPair::TestKeyPair() {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium cannot start");
    }
    crypto_sign_keypair(publicKey.data(), secretKey.data());
}

std::string TestKeyPair::publicText() const {
    return Core::Trust::encodeBase64(publicKey);
}

std::string TestKeyPair::sign(std::string_view bytes) const {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         secretKey.data());
    return Core::Trust::encodeBase64(signature);
}
