#include "core/install/StagedInstall.h"

#include "core/install/DiskSpace.h"
#include "core/install/InstallStore.h"
#include "core/unpack/Extract.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <system_error>

namespace fs = std::filesystem;

namespace Core::Install {

namespace {

const fs::path gameExecutable = fs::path("Contents") / "MacOS" / "ASHENMARCH";

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::optional<std::string> pendingVersion() {
    try {
        return FileSystem::readText(pendingMarker());
    } catch (const Error&) {
        return std::nullopt;
    }
}

// Temporary files of a download that was killed before it could clean up after itself.
void removeStaleDownloads() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(installRoot(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".update.zip.", 0) == 0) {
            removeQuietly(entry.path());
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
    removeQuietly(stagingDir());
    removeQuietly(setAsideDir());
    removeStaleDownloads();
}

StagedBuild stageBuild(const fs::path& archive, const Manifest& manifest) {
    recoverInterruptedUpdate();
    try {
        // The installed build stays while the new one is staged, so both must fit at once.
        Unpack::extract(archive, stagingDir(),
                        [](std::uint64_t bytes) { requireFreeSpace(stagingDir(), bytes); });
    } catch (...) {
        removeQuietly(stagingDir());
        throw;
    }
    const fs::path bundle = stagingDir() / gameAppURL(manifest).filename();
    return {FileSystem::exists(bundle), FileSystem::exists(bundle / gameExecutable)};
}

void discardStagedBuild() {
    removeQuietly(stagingDir());
}

void commitStagedBuild(const Manifest& manifest) {
    FileSystem::writeTextAtomically(pendingMarker(), manifest.version);
    const bool hadBuild = FileSystem::exists(buildDir());
    try {
        if (hadBuild) {
            removeQuietly(setAsideDir());
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
    removeQuietly(setAsideDir());
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
