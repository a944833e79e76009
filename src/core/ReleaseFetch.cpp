#include "core/ReleaseFetch.h"

#include "core/install/DiskSpace.h"
#include "core/transfer/Fetch.h"
#include "core/transfer/FileDownloader.h"
#include "core/transfer/TransferAddress.h"
#include "platform/Error.h"

namespace Core {

std::string signatureAddress(const std::string& manifestAddress) {
    return manifestAddress + ".sig";
}

Manifest fetchRelease(const std::string& manifestAddress, const Transfer::TransferOptions& options,
                      const Trust::ReleaseKeys& keys) {
    const std::string manifestBytes = Transfer::fetch(manifestAddress, options);
    if (keys.required()) {
        // Checked before parsing: nothing the host sent is believed until the key vouches for it.
        Trust::verifyManifestSignature(
            manifestBytes, Transfer::fetch(signatureAddress(manifestAddress), options), keys);
    }
    Manifest manifest = Manifest::parse(manifestBytes);
    Trust::requireSignedChecksum(manifest, keys);
    return manifest;
}

bool hasArchiveAddress(const Manifest& manifest) {
    try {
        Transfer::parseTransferAddress(manifest.url, true);
    } catch (const Error& error) {
        return !error.is(AmCode::BadAddress);
    }
    return true;
}

void downloadRelease(const Manifest& manifest, const std::filesystem::path& archive,
                     const std::function<void(double)>& progress,
                     const Transfer::TransferOptions& options) {
    if (manifest.size > 0) {
        Install::requireFreeSpace(archive.parent_path(), static_cast<std::uint64_t>(manifest.size));
    }
    Transfer::syncDownload(manifest.url, archive, progress, options,
                           Transfer::DownloadCheck{manifest.sha256, manifest.size});
}

} // namespace Core
