#pragma once

#include "core/trust/ReleaseSignature.h"

#include <array>
#include <string>
#include <string_view>

// A fresh Ed25519 release-signing key pair, made for one test.
struct TestKeyPair {
    std::array<unsigned char, 32> publicKey{};
    std::array<unsigned char, 64> secretKey{};

    TestKeyPair();
    // The public key as base64, as the build receives it.
    std::string publicText() const;
    // The base64 detached signature of exactly these bytes, as latest.txt.sig holds it.
    std::string sign(std::string_view bytes) const;
    // A build whose only release key is this one.
    Core::Trust::ReleaseKeys keys() const {
        return Core::Trust::ReleaseKeys::parse(publicText(), "");
    }
};
