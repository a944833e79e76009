#pragma once

#include "formats/Manifest.h"
#include "platform/Error.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The trust part: whether bytes are the studio's. Ed25519 signatures over the manifest
// (ReleaseSignature, with Sodium and Base64) and the archive's SHA-256 (Sha256, and
// BackgroundSha256, which hashes on a thread of its own as the bytes arrive). Computations over
// bytes handed in; no file or network access.
namespace Core::Trust {

// Release signing. The studio signs the exact bytes of latest.txt with Ed25519 and publishes the
// detached signature, base64, as latest.txt.sig (`ashenmarch-publish release --key`). A build
// with a release key accepts a manifest only when that signature verifies, so a compromised host
// or mirror cannot point players at a different archive; the signed macsha256 then pins the
// archive itself.
//
// Every failure is Error "am" 10 "release signature is not valid" with the reason as detail.
// Pure computations; callable from any thread.

// The public keys a signature may come from: the primary first, then the optional backup that
// lets the studio rotate keys. No keys: this build does not require signatures.
struct ReleaseKeys {
    using PublicKey = std::array<unsigned char, 32>;
    std::vector<PublicKey> keys;

    bool required() const { return !keys.empty(); }

    // The keys compiled into this build (ReleasePublicKey, ReleaseBackupPublicKey). A malformed
    // build key throws rather than quietly turning verification off.
    static ReleaseKeys fromBuild();
    // Each text is base64 of a 32-byte key, white space around it allowed; empty = no key.
    // Throws "am" 10 naming the key that is not base64 or not 32 bytes.
    static ReleaseKeys parse(std::string_view primary, std::string_view backup);
};

// "am" 10 "release signature is not valid" with `reason` as detail.
Error badSignature(std::string reason);

// Checks the detached signature over manifestBytes (exactly as fetched, before parsing) against
// every key. Does nothing when no keys are required. Throws "am" 10 when the signature text is
// empty (missing), not base64, not 64 bytes, or matches no key.
void verifyManifestSignature(std::string_view manifestBytes, std::string_view signatureText,
                             const ReleaseKeys& keys);

// A signature vouches for the archive only through its checksum, and for the file index only
// through its own: when signatures are required, a manifest without macsha256, or with macindex
// but without macindexsha256, throws "am" 10. Whether the values are well-formed is checked
// with the downloads (Trust::requireChecksum, "am" 6).
void requireSignedChecksum(const Manifest& manifest, const ReleaseKeys& keys);

} // namespace Core::Trust
