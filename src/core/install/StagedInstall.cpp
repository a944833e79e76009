#include "core/install/StagedInstall.h"

#include "core/install/DiskSpace.h"
#include "core/install/InstallStore.h"
#include "core/unpack/Extract.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"

#include <system_error>

namespace fs = std::filesystem;

namespace Core::Install {

namespace {

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::optional<std::string> pendingVersion(const InstallLayout& layout) {
    try {
        return FileSystem::readText(layout.pendingRecordPath());
    } catch (const Error&) {
        return std::nullopt;
    }
}

// What a process killed in the middle of FileSystem::writeTextAtomically leaves beside the files
// it writes into the root: ".<name>.XXXXXX", for the marker, the pending record and the record
// of a partial download (".update.zip.part.meta.XXXXXX").
void removeCutShortWrites(const InstallLayout& layout) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(layout.root, error)) {
        const std::string name = entry.path().filename().string();
        for (const fs::path& file :
             {layout.markerPath(), layout.pendingRecordPath(), layout.archivePath()}) {
            if (name.starts_with("." + file.filename().string() + ".")) {
                removeQuietly(entry.path());
            }
        }
    }
}

} // namespace

void recoverInterruptedUpdate(const InstallLayout& layout) {
    const bool staged = FileSystem::exists(layout.stagingDir());
    const bool built = FileSystem::exists(layout.buildDir());
    const auto pending = pendingVersion(layout);
    if (pending && !staged && built) {
        // The new build was swapped in but the marker may not have been written yet.
        markInstalled(layout, *pending);
    } else if (!built && FileSystem::exists(layout.setAsideDir())) {
        // Killed between setting the old build aside and moving the new one in: put it back.
        std::error_code ignored;
        fs::rename(layout.setAsideDir(), layout.buildDir(), ignored);
    }
    // The pending record goes before the staging folder: with the record present and the
    // staging folder gone, the next recovery would take the swap for finished.
    removeQuietly(layout.pendingRecordPath());
    removeQuietly(layout.stagingDir());
    removeQuietly(layout.setAsideDir());
    removeCutShortWrites(layout);
}

StagedBuild stageBuild(const InstallLayout& layout, const Manifest& manifest) {
    recoverInterruptedUpdate(layout);
    const fs::path staging = layout.stagingDir();
    try {
        // The installed build stays while the new one is staged, so both must fit at once.
        Unpack::extract(layout.archivePath(), staging,
                        [&staging](std::uint64_t bytes) { requireFreeSpace(staging, bytes); });
    } catch (...) {
        removeQuietly(staging);
        throw;
    }
    const fs::path bundle = staging / layout.gameAppPath(manifest).filename();
    return {FileSystem::exists(bundle), FileSystem::exists(bundleExecutable(bundle))};
}

void discardStagedBuild(const InstallLayout& layout) {
    removeQuietly(layout.stagingDir());
}

void commitStagedBuild(const InstallLayout& layout, const Manifest& manifest) {
    FileSystem::writeTextAtomically(layout.pendingRecordPath(), manifest.version);
    const bool hadBuild = FileSystem::exists(layout.buildDir());
    try {
        if (hadBuild) {
            removeQuietly(layout.setAsideDir());
            FileSystem::move(layout.buildDir(), layout.setAsideDir());
        }
        FileSystem::move(layout.stagingDir(), layout.buildDir());
    } catch (...) {
        if (hadBuild && !FileSystem::exists(layout.buildDir())) {
            std::error_code ignored;
            fs::rename(layout.setAsideDir(), layout.buildDir(), ignored);
        }
        removeQuietly(layout.pendingRecordPath());
        throw;
    }
    markInstalled(layout, manifest.version);
    removeQuietly(layout.pendingRecordPath());
    removeQuietly(layout.setAsideDir());
}

} // namespace Core::Install
