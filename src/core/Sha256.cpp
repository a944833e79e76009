#include "core/Sha256.h"

#include "platform/Error.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cctype>

Sha256::Sha256() : state_(std::make_unique<crypto_hash_sha256_state>()) {
    crypto_hash_sha256_init(state_.get());
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
    crypto_hash_sha256_update(state_.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                              bytes.size());
}

std::string Sha256::hexDigest() const {
    // Finishing consumes the state; finish a copy so hashing can go on.
    crypto_hash_sha256_state finished = *state_;
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256_final(&finished, digest.data());
    std::string hex(digest.size() * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    hex.pop_back(); // the terminating NUL
    return hex;
}

namespace Core {

namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace

bool isSha256Hex(std::string_view text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

void requireChecksum(const Sha256& computed, std::string_view expectedHex) {
    const std::string actual = computed.hexDigest();
    if (!isSha256Hex(expectedHex)) {
        throw Error::am(AmCode::ChecksumMismatch, "download checksum mismatch",
                        "macsha256 is not 64 hex digits");
    }
    const std::string expected = lowerCase(expectedHex);
    if (expected != actual) {
        throw Error::am(AmCode::ChecksumMismatch, "download checksum mismatch",
                        "expected " + expected + ", got " + actual);
    }
}

} // namespace Core
