#include "core/install/StagedInstall.h"

#include "core/install/DiskSpace.h"
#include "core/install/InstallStore.h"
#include "core/unpack/Extract.h"
#include "core/unpack/TreeRemoval.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Core::Install {

namespace {

const fs::path gameExecutable = fs::path("Contents") / "MacOS" / "ASHENMARCH";

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

std::optional<std::string> pendingVersion() {
    try {
        return FileSystem::readText(pendingMarker());
    } catch (const Error&) {
        return std::nullopt;
    }
}

// Temporary names of work killed before it could clean up after itself: downloads, marker
// writes, and folders moved aside to be removed.
void removeStaleDownloads() {
    static const char* const prefixes[] = {".update.zip.", ".installed.txt.", ".installing.txt.",
                                           ".build.old.", ".build.staging."};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(installRoot(), error)) {
        const std::string name = entry.path().filename().string();
        for (const char* prefix : prefixes) {
            if (name.starts_with(prefix)) {
                removeQuietly(entry.path());
            }
        }
    }
}

} // namespace

fs::path stagingDir() {
    return installRoot() / "build.staging";
}

fs::path setAsideDir() {
    return installRoot() / "build.old";
}

fs::path pendingMarker() {
    return installRoot() / "installing.txt";
}

void recoverInterruptedUpdate() {
    const bool staged = FileSystem::exists(stagingDir());
    const bool built = FileSystem::exists(buildDir());
    const auto pending = pendingVersion();
    if (pending && !staged && built) {
        // The new build was swapped in but the marker may not have been written yet.
        markInstalled(*pending);
    } else if (!built && FileSystem::exists(setAsideDir())) {
        // Killed between setting the old build aside and moving the new one in: put it back.
        std::error_code ignored;
        fs::rename(setAsideDir(), buildDir(), ignored);
    }
    // The pending record goes before the staging folder: with the record present and the
    // staging folder gone, the next recovery would take the swap for finished.
    removeQuietly(pendingMarker());
    discard(stagingDir());
    discard(setAsideDir());
    removeStaleDownloads();
    Unpack::removeUnpackingLeftovers(buildDir());
}

StagedBuild stageBuild(const fs::path& archive, const Manifest& manifest) {
    recoverInterruptedUpdate();
    try {
        // The installed build stays while the new one is staged, so both must fit at once.
        Unpack::extract(archive, stagingDir(),
                        [](std::uint64_t bytes) { requireFreeSpace(stagingDir(), bytes); });
    } catch (...) {
        discard(stagingDir());
        throw;
    }
    const fs::path bundle = stagingDir() / gameAppURL(manifest).filename();
    return {FileSystem::exists(bundle), FileSystem::exists(bundle / gameExecutable)};
}

void discardStagedBuild() {
    discard(stagingDir());
}

void commitStagedBuild(const Manifest& manifest) {
    FileSystem::writeTextAtomically(pendingMarker(), manifest.version);
    const bool hadBuild = FileSystem::exists(buildDir());
    try {
        if (hadBuild) {
            discard(setAsideDir());
            FileSystem::move(buildDir(), setAsideDir());
        }
        FileSystem::move(stagingDir(), buildDir());
    } catch (...) {
        if (hadBuild && !FileSystem::exists(buildDir())) {
            std::error_code ignored;
            fs::rename(setAsideDir(), buildDir(), ignored);
        }
        removeQuietly(pendingMarker());
        throw;
    }
    markInstalled(manifest.version);
    removeQuietly(pendingMarker());
    discard(setAsideDir());
}

void installBuild(const fs::path& archive, const Manifest& manifest) {
    if (!stageBuild(archive, manifest).hasBundle) {
        discardStagedBuild();
        const std::string name = gameAppURL(manifest).filename().string();
        throw Error::am(AmCode::MissingBundle, "download did not contain " + name);
    }
    commitStagedBuild(manifest);
}

} // namespace Core::Install
