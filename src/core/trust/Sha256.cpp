#include "core/trust/Sha256.h"

#include "platform/Error.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <new>

#if defined(__linux__)
#include <openssl/evp.h>
#else
#include <sodium.h>
#endif

namespace Core::Trust {

namespace {

using Digest = std::array<unsigned char, 32>;

std::string hexOf(const Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0f];
    }
    return hex;
}

} // namespace

#if defined(__linux__)

// OpenSSL's SHA-256 uses the processor's SHA instructions where they exist and tuned vector code
// elsewhere, several times the speed of portable code: a download hashes every byte it writes.
struct Sha256::State {
    State() { require(EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr)); }
    State(const State& other) { require(EVP_MD_CTX_copy_ex(context.get(), other.context.get())); }

    void update(std::string_view bytes) {
        require(EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()));
    }
    Digest finish() {
        Digest digest{};
        unsigned int length = 0;
        require(EVP_DigestFinal_ex(context.get(), digest.data(), &length));
        return digest;
    }

    // These fail only when OpenSSL cannot allocate.
    static void require(int status) {
        if (status != 1) {
            throw std::bad_alloc();
        }
    }

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free};
};

#else

struct Sha256::State {
    State() { crypto_hash_sha256_init(&state); }

    void update(std::string_view bytes) {
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size());
    }
    Digest finish() {
        Digest digest{};
        crypto_hash_sha256_final(&state, digest.data());
        return digest;
    }

    crypto_hash_sha256_state state;
};

#endif

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
    state_->update(bytes);
}

std::string Sha256::hexDigest() const {
    // Finishing consumes the state; finish a copy so hashing can go on.
    State finished(*state_);
    return hexOf(finished.finish());
}

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

} // namespace Core::Trust
