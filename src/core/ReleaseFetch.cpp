#include "core/ReleaseFetch.h"

#include "core/transfer/Fetch.h"

namespace Core {

Manifest fetchRelease(const std::string& manifestAddress, const Transfer::TransferOptions& options,
                      const Trust::ReleaseKeys& keys) {
    const std::string manifestBytes = Transfer::fetch(manifestAddress, options);
    if (keys.required()) {
        // Checked before parsing: nothing the host sent is believed until the key vouches for it.
        Trust::verifyManifestSignature(manifestBytes,
                                       Transfer::fetch(manifestAddress + ".sig", options), keys);
    }
    Manifest manifest = Manifest::parse(manifestBytes);
    Trust::requireSignedChecksum(manifest, keys);
    return manifest;
}

} // namespace Core
