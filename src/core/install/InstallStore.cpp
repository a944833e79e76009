#include "core/install/InstallStore.h"

#include "core/unpack/DestinationFolder.h"
#include "core/unpack/PatchStaging.h"
#include "formats/Text.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"

#include <system_error>

namespace Core::Install {

std::string installedVersion(const InstallLayout& layout) {
    try {
        return std::string(
            Text::trimWhitespaceAndNewlines(FileSystem::readText(layout.markerPath())));
    } catch (const Error&) {
        // An unreadable marker means the same as none: the next check installs again.
        return {};
    }
}

void markInstalled(const InstallLayout& layout, const std::string& version) {
    try {
        FileSystem::createFolder(layout.root);
    } catch (const Error&) {
        // The write below fails on its own if the folder is really missing.
    }
    try {
        FileSystem::writeTextAtomically(layout.markerPath(), version);
    } catch (const Error&) {
        // Best effort: the old marker stays, and at worst the next check installs again.
    }
}

bool isInstalled(const InstallLayout& layout, const Manifest& manifest) {
    return FileSystem::exists(layout.gameAppPath(manifest));
}

std::optional<FileIndex> installedIndex(const InstallLayout& layout) {
    try {
        return FileIndex::parse(FileSystem::readText(layout.installedIndexPath()));
    } catch (const Error&) {
        return std::nullopt;
    } catch (const FileIndexError&) {
        return std::nullopt;
    }
}

void keepIndex(const InstallLayout& layout, FileIndex index) {
    Unpack::recordStamps(index, Unpack::DestinationFolder(layout.stagingDir()));
    FileSystem::writeTextAtomically(layout.stagedIndexPath(), index.serialize());
}

bool hasPlayableBuild(const InstallLayout& layout) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(layout.buildDir(), error)) {
        if (FileSystem::exists(bundleExecutable(entry.path()))) {
            return true;
        }
    }
    return false;
}

std::optional<ReleaseTime> newestAcceptedRelease(const InstallLayout& layout) {
    try {
        return parseReleaseTime(
            Text::trimWhitespaceAndNewlines(FileSystem::readText(layout.acceptedReleasePath())));
    } catch (const Error&) {
        return std::nullopt;
    }
}

void recordAcceptedRelease(const InstallLayout& layout, ReleaseTime released) {
    const std::optional<ReleaseTime> recorded = newestAcceptedRelease(layout);
    if (!recorded || *recorded < released) {
        FileSystem::writeTextAtomically(layout.acceptedReleasePath(), formatReleaseTime(released));
    }
}

} // namespace Core::Install
