#include "core/install/StagedInstall.h"

#include "core/install/DiskSpace.h"
#include "core/install/InstallStore.h"
#include "core/unpack/Extract.h"
#include "core/unpack/TreeRemoval.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Core::Install {

namespace {

void removeQuietly(const fs::path& path) {
    try {
        Unpack::removeTree(path);
    } catch (const Error&) {
        // Best effort; what stays is tried again at the next recovery.
    }
}

// A folder that resists removal (an item of another user inside, say) is moved out of the way
// under a fresh name, so that it never blocks an update; each recovery tries to remove it again.
void discard(const fs::path& folder) {
    try {
        Unpack::removeTree(folder);
    } catch (const Error&) {
        std::string aside =
            (folder.parent_path() / ("." + folder.filename().string() + ".XXXXXX")).string();
        // A folder renamed onto an empty one replaces it: the fresh name is taken atomically.
        if (::mkdtemp(aside.data()) != nullptr && ::rename(folder.c_str(), aside.c_str()) != 0) {
            ::rmdir(aside.c_str());
        }
    }
}

std::optional<std::string> pendingVersion(const InstallLayout& layout) {
    try {
        return FileSystem::readText(layout.pendingRecordPath());
    } catch (const Error&) {
        return std::nullopt;
    }
}

// What work killed before it could clean up after itself leaves in the root: the temporary
// names of FileSystem::writeTextAtomically (".<name>.XXXXXX": the marker, the pending record,
// the accepted release's record, the record of a partial download) and folders moved aside to
// be removed (see discard).
bool isCutShortWrite(const InstallLayout& layout, const fs::path& item) {
    const std::string name = item.filename().string();
    for (const fs::path& file :
         {layout.markerPath(), layout.pendingRecordPath(), layout.acceptedReleasePath(),
          layout.archivePath(), layout.setAsideDir(), layout.stagingDir()}) {
        if (name.starts_with("." + file.filename().string() + ".")) {
            return true;
        }
    }
    return false;
}

void removeCutShortWrites(const InstallLayout& layout) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(layout.root, error)) {
        if (isCutShortWrite(layout, entry.path())) {
            removeQuietly(entry.path());
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
    // A patch cut short keeps what it staged for the next patch to the same release: each item
    // there was checked before it got its name (see PatchUpdate).
    if (!FileSystem::exists(layout.patchRecordPath())) {
        discard(layout.stagingDir());
    }
    discard(layout.setAsideDir());
    removeCutShortWrites(layout);
    Unpack::removeUnpackingLeftovers(layout.buildDir());
}

bool hasInterruptedUpdate(const InstallLayout& layout) {
    std::error_code error;
    // A patch cut short is kept for the next patch, not settled (see recoverInterruptedUpdate).
    const bool keptPatch = FileSystem::exists(layout.patchRecordPath());
    for (const fs::path& item :
         {layout.stagingDir(), layout.setAsideDir(), layout.pendingRecordPath()}) {
        if (fs::exists(fs::symlink_status(item, error)) &&
            !(keptPatch && item == layout.stagingDir())) {
            return true;
        }
    }
    for (const auto& entry : fs::directory_iterator(layout.root, error)) {
        if (isCutShortWrite(layout, entry.path())) {
            return true;
        }
    }
    return Unpack::hasUnpackingLeftovers(layout.buildDir());
}

StagedBuild stageBuild(const InstallLayout& layout, const Manifest& manifest) {
    recoverInterruptedUpdate(layout);
    const fs::path staging = layout.stagingDir();
    discard(staging); // what a patch left, when the whole archive came after all
    try {
        // The installed build stays while the new one is staged, so both must fit at once.
        Unpack::extract(layout.archivePath(), staging,
                        [&staging](std::uint64_t bytes) { requireFreeSpace(staging, bytes); });
    } catch (...) {
        discard(staging);
        throw;
    }
    return inspectStagedBuild(layout, manifest);
}

StagedBuild inspectStagedBuild(const InstallLayout& layout, const Manifest& manifest) {
    const fs::path bundle = layout.stagingDir() / layout.gameAppPath(manifest).filename();
    return {FileSystem::exists(bundle), FileSystem::exists(bundleExecutable(bundle))};
}

void discardStagedBuild(const InstallLayout& layout) {
    discard(layout.stagingDir());
}

void commitStagedBuild(const InstallLayout& layout, const Manifest& manifest,
                       const DiskSync& sync) {
    // Unpacking left the files to the page cache: without this a power cut after the marker
    // could leave the marker naming a build whose files are empty.
    sync.tree(layout.stagingDir());
    FileSystem::writeTextAtomically(layout.pendingRecordPath(), manifest.version);
    const bool hadBuild = FileSystem::exists(layout.buildDir());
    try {
        if (hadBuild) {
            discard(layout.setAsideDir());
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
    sync.folder(layout.root);
    markInstalled(layout, manifest.version);
    removeQuietly(layout.pendingRecordPath());
    discard(layout.setAsideDir());
}

} // namespace Core::Install
