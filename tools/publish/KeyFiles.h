#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

// The release-signing key pair on disk: each file holds one line of base64. The public key
// (32 bytes) goes into the launcher's build (ASHENMARCH_RELEASE_PUBKEY); the private key
// (libsodium's 64-byte Ed25519 secret key) stays with the studio. Blocking file I/O.
namespace Publish {

// Makes a fresh key pair and writes both files, the private one with mode 0600. Never replaces
// anything: when either path exists it throws the "posix" EEXIST error and leaves both paths
// as they were. Returns the public key's base64 text.
std::string writeKeyPair(const std::filesystem::path& privateKeyFile,
                         const std::filesystem::path& publicKeyFile);

// A private key read back from its file, wiped from memory when the object goes away.
// Not copyable or movable, so no second copy of the secret is left behind.
class SigningKey {
public:
    // Throws the file's "posix" error, or std::runtime_error when the text is not a private
    // key written by writeKeyPair.
    explicit SigningKey(const std::filesystem::path& file);
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    // The base64 Ed25519 detached signature of exactly these bytes.
    std::string sign(std::string_view bytes) const;
    std::string publicKeyText() const;

private:
    std::array<unsigned char, 64> secret_{};
};

} // namespace Publish
