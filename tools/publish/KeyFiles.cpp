#include "publish/KeyFiles.h"

#include "core/trust/Base64.h"
#include "core/trust/Sodium.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace Publish {

namespace {

static_assert(crypto_sign_SECRETKEYBYTES == 64 && crypto_sign_PUBLICKEYBYTES == 32);

// Creates the file exclusively (an existing file is an error, never replaced) and writes the
// text; a file that could not be written completely is removed again.
void writeNewFile(const std::filesystem::path& file, std::string_view text, mode_t mode) {
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!fd) {
        throw Error::posix(errno, "create", file);
    }
    while (!text.empty()) {
        const ssize_t written = ::write(fd.get(), text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            const int failure = errno;
            ::unlink(file.c_str());
            throw Error::posix(failure, "write", file);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Wipes a buffer that held secret material when the scope ends, however it ends.
class Wipe {
public:
    Wipe(void* data, std::size_t size) : data_(data), size_(size) {}
    ~Wipe() { sodium_memzero(data_, size_); }
    Wipe(const Wipe&) = delete;
    Wipe& operator=(const Wipe&) = delete;

private:
    void* data_;
    std::size_t size_;
};

std::runtime_error notAPrivateKey(const std::filesystem::path& file) {
    return std::runtime_error(file.string() +
                              " is not a private key written by ashenmarch-publish keygen");
}

} // namespace

std::string writeKeyPair(const std::filesystem::path& privateKeyFile,
                         const std::filesystem::path& publicKeyFile) {
    if (FileSystem::exists(publicKeyFile)) {
        throw Error::posix(EEXIST, "create", publicKeyFile);
    }
    Core::Trust::requireSodium();
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    const Wipe wipeKey(secretKey.data(), secretKey.size());
    crypto_sign_keypair(publicKey.data(), secretKey.data());
    std::string secretText = Core::Trust::encodeBase64(secretKey) + "\n";
    const Wipe wipeText(secretText.data(), secretText.size());
    writeNewFile(privateKeyFile, secretText, 0600);

    const std::string publicText = Core::Trust::encodeBase64(publicKey);
    try {
        writeNewFile(publicKeyFile, publicText + "\n", 0644);
    } catch (...) {
        // The public file appeared meanwhile or could not be written; a private key without its
        // public half is useless, so take back the file this call made.
        ::unlink(privateKeyFile.c_str());
        throw;
    }
    return publicText;
}

SigningKey::SigningKey(const std::filesystem::path& file) {
    Core::Trust::requireSodium();
    std::string text = FileSystem::readText(file);
    const Wipe wipeText(text.data(), text.size());
    auto bytes = Core::Trust::decodeBase64(text);
    if (!bytes || bytes->size() != secret_.size()) {
        throw notAPrivateKey(file);
    }
    const Wipe wipeBytes(bytes->data(), bytes->size());
    std::copy(bytes->begin(), bytes->end(), secret_.begin());
    // The secret key carries its public half; recomputing it from the seed catches a damaged
    // or hand-edited file before it signs a release no launcher would accept.
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> derivedPublic{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> derivedSecret{};
    const Wipe wipeDerived(derivedSecret.data(), derivedSecret.size());
    crypto_sign_seed_keypair(derivedPublic.data(), derivedSecret.data(), secret_.data());
    if (sodium_memcmp(derivedSecret.data(), secret_.data(), secret_.size()) != 0) {
        sodium_memzero(secret_.data(), secret_.size()); // no destructor runs for a failed start
        throw notAPrivateKey(file);
    }
}

SigningKey::~SigningKey() {
    sodium_memzero(secret_.data(), secret_.size());
}

std::string SigningKey::sign(std::string_view bytes) const {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         secret_.data());
    return Core::Trust::encodeBase64(signature);
}

std::string SigningKey::publicKeyText() const {
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    crypto_sign_ed25519_sk_to_pk(publicKey.data(), secret_.data());
    return Core::Trust::encodeBase64(publicKey);
}

} // namespace Publish
