#include "core/trust/ReleaseSignature.h"

#include "core/trust/Base64.h"
#include "core/trust/Sodium.h"
#include "platform/Error.h"
#include "platform/ReleaseHost.h"

#include <sodium.h>

#include <algorithm>
#include <string>
#include <utility>

namespace Core::Trust {

Error badSignature(std::string reason) {
    return Error::am(AmCode::BadSignature, "release signature is not valid", std::move(reason));
}

namespace {

void addKey(ReleaseKeys& into, std::string_view text, std::string_view which) {
    if (text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos) {
        return;
    }
    const auto bytes = Trust::decodeBase64(text);
    if (!bytes) {
        throw badSignature(std::string(which) + " release key is not base64");
    }
    if (bytes->size() != crypto_sign_PUBLICKEYBYTES) {
        throw badSignature(std::string(which) + " release key is " + std::to_string(bytes->size()) +
                           " bytes, expected 32");
    }
    ReleaseKeys::PublicKey key;
    std::copy(bytes->begin(), bytes->end(), key.begin());
    into.keys.push_back(key);
}

} // namespace

static_assert(std::tuple_size_v<ReleaseKeys::PublicKey> == crypto_sign_PUBLICKEYBYTES);

ReleaseKeys ReleaseKeys::fromBuild() {
    return parse(ReleasePublicKey, ReleaseBackupPublicKey);
}

ReleaseKeys ReleaseKeys::parse(std::string_view primary, std::string_view backup) {
    ReleaseKeys parsed;
    addKey(parsed, primary, "primary");
    addKey(parsed, backup, "backup");
    return parsed;
}

void verifyManifestSignature(std::string_view manifestBytes, std::string_view signatureText,
                             const ReleaseKeys& keys) {
    if (!keys.required()) {
        return;
    }
    const auto signature = decodeBase64(signatureText);
    if (signature && signature->empty()) {
        throw badSignature("signature missing");
    }
    if (!signature) {
        throw badSignature("signature is not base64");
    }
    if (signature->size() != crypto_sign_BYTES) {
        throw badSignature("signature is " + std::to_string(signature->size()) +
                           " bytes, expected 64");
    }
    requireSodium();
    const auto* message = reinterpret_cast<const unsigned char*>(manifestBytes.data());
    const bool matched = std::any_of(keys.keys.begin(), keys.keys.end(), [&](const auto& key) {
        return crypto_sign_verify_detached(signature->data(), message, manifestBytes.size(),
                                           key.data()) == 0;
    });
    if (!matched) {
        throw badSignature("no release key matched the signature");
    }
}

void requireSignedChecksum(const Manifest& manifest, const ReleaseKeys& keys) {
    if (keys.required() && manifest.sha256.empty()) {
        throw badSignature("signed manifest has no macsha256");
    }
    if (keys.required() && !manifest.indexUrl.empty() && manifest.indexSha256.empty()) {
        throw badSignature("signed manifest names macindex without macindexsha256");
    }
}

} // namespace Core::Trust
