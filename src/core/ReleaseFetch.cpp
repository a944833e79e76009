#include "core/ReleaseFetch.h"

#include "core/DiskSpace.h"
#include "core/Fetch.h"
#include "core/FileDownloader.h"

namespace Core {

std::string signatureAddress(const std::string& manifestAddress) {
    return manifestAddress + ".sig";
}

Manifest fetchRelease(const std::string& manifestAddress, const TransferOptions& options,
                      const ReleaseKeys& keys) {
    const std::string manifestBytes = fetch(manifestAddress, options);
    if (keys.required()) {
        // Checked before parsing: nothing the host sent is believed until the key vouches for it.
        verifyManifestSignature(manifestBytes, fetch(signatureAddress(manifestAddress), options),
                                keys);
    }
    Manifest manifest = Manifest::parse(manifestBytes);
    requireSignedChecksum(manifest, keys);
    return manifest;
}

void downloadRelease(const Manifest& manifest, const std::filesystem::path& archive,
                     const std::function<void(double)>& progress, const TransferOptions& options) {
    if (manifest.size > 0) {
        requireFreeSpace(archive.parent_path(), static_cast<std::uint64_t>(manifest.size));
    }
    syncDownload(manifest.url, archive, progress, options,
                 DownloadCheck{manifest.sha256, manifest.size});
}

} // namespace Core
