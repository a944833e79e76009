#include "core/ReleaseFetch.h"

#include "core/install/DiskSpace.h"
#include "core/transfer/Fetch.h"
#include "core/transfer/FileDownloader.h"
#include "core/transfer/PartialDownload.h"

namespace Core {

namespace {

constexpr long FirstErrorStatus = 400;

// A signed build can vouch for nothing the host failed to serve, and says which file it was.
std::string servedOrRefused(const std::string& address, const char* what,
                            const Transfer::TransferOptions& options) {
    Transfer::FetchedText text = Transfer::fetchWithStatus(address, options);
    if (text.status >= FirstErrorStatus) {
        throw Trust::badSignature("no " + std::string(what) + " at " + address + " (HTTP status " +
                                  std::to_string(text.status) + ")");
    }
    return std::move(text.body);
}

// The archive, and the reserve every download leaves, must fit in what is free now plus what
// an earlier attempt holds: that is continued or replaced.
void requireRoomForArchive(const std::filesystem::path& archive, std::int64_t size) {
    const std::filesystem::path folder = archive.parent_path();
    const std::uint64_t needed = static_cast<std::uint64_t>(size) + Install::reserveBytes(folder);
    const std::uint64_t available = Install::freeBytes(folder) + Transfer::partialBytes(archive);
    if (available < needed) {
        throw Error::am(AmCode::NotEnoughSpace, Install::notEnoughSpaceMessage(needed, available));
    }
}

// Where the manifest's detached signature is published: latest.txt.sig beside latest.txt.
std::string signatureAddress(const std::string& manifestAddress) {
    return manifestAddress + ".sig";
}

} // namespace

Manifest fetchRelease(const std::string& manifestAddress, const Transfer::TransferOptions& options,
                      const Trust::ReleaseKeys& keys) {
    if (!keys.required()) {
        // Without a key the host's answer is taken as it comes, error pages included: the
        // parser finds no release in them.
        return Manifest::parse(Transfer::fetch(manifestAddress, options));
    }
    const std::string manifestBytes = servedOrRefused(manifestAddress, "manifest", options);
    // Checked before parsing: nothing the host sent is believed until the key vouches for it.
    Trust::verifyManifestSignature(
        manifestBytes, servedOrRefused(signatureAddress(manifestAddress), "signature", options),
        keys);
    Manifest manifest = Manifest::parse(manifestBytes);
    Trust::requireSignedChecksum(manifest, keys);
    return manifest;
}

void downloadRelease(const Manifest& manifest, const std::filesystem::path& archive,
                     const Transfer::ByteProgress& progress,
                     const Transfer::TransferOptions& options, const Trust::ReleaseKeys& keys) {
    if (manifest.size > 0) {
        requireRoomForArchive(archive, manifest.size);
    }
    // An unsigned size is only a hint, often stale: the disk's reserve bounds the body instead.
    const std::int64_t sizeLimit = keys.required() ? manifest.size : 0;
    Transfer::downloadFile(manifest.url, archive, progress, options,
                           Transfer::DownloadCheck{manifest.sha256, sizeLimit});
}

} // namespace Core
