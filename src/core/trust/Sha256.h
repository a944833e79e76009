#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace Core::Trust {

// SHA-256 computed as the bytes go by, so the downloader hashes the archive while writing it
// and never reads it back. One object per stream; not shared between threads. Move-only; a
// moved-from object may only be destroyed or assigned to.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void update(std::string_view bytes);
    // The digest of everything so far as 64 lower-case hex digits. More updates may follow.
    std::string hexDigest() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// True for exactly 64 hex digits, either case.
bool isSha256Hex(std::string_view text);

// Checks a downloaded archive against the manifest's macsha256 (either case). Throws "am" 6
// "download checksum mismatch" when the digests differ or the expected value is not 64 hex
// digits; the detail says which, with both values.
void requireChecksum(const Sha256& computed, std::string_view expectedHex);

} // namespace Core::Trust
