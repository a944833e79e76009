#pragma once

#include "formats/Manifest.h"

#include <filesystem>

// The install part: where the game is installed and what each name in the install root holds,
// which version is recorded (InstallStore), how a downloaded build replaces the installed one
// without ever damaging it and how an interrupted update is settled (StagedInstall), that one
// launcher at a time updates a root (InstallLock), and that the disk has room first (DiskSpace).
// Everything else in core reaches the install through these.
namespace Core::Install {

// $AM_INSTALL_DIR verbatim when set and not empty, else the user's data folder + "Ashenmarch".
// Reads the environment: a mode calls it once, into an InstallLayout. Never creates the folder.
std::filesystem::path installRoot();

// Every place in one install root. A value built once from installRoot() when a mode starts
// (tests build it from a folder of their own) and handed to every step, so no step reads the
// environment and a run works in one root from start to end. Path arithmetic only: nothing here
// touches the disk.
struct InstallLayout {
    std::filesystem::path root;

    // The installed build, and the version recorded for it.
    std::filesystem::path buildDir() const { return root / "build"; }
    std::filesystem::path markerPath() const { return root / "installed.txt"; }
    // A downloaded build (its body grows beside it while it downloads, see syncDownload).
    std::filesystem::path archivePath() const { return root / "update.zip"; }
    // While an update swaps a build in: the new one unpacked, the old one set aside, and the
    // version being swapped in (see StagedInstall).
    std::filesystem::path stagingDir() const { return root / "build.staging"; }
    std::filesystem::path setAsideDir() const { return root / "build.old"; }
    std::filesystem::path pendingRecordPath() const { return root / "installing.txt"; }
    // The installed build's file index, kept inside the build so that the swap that brings a
    // build in brings its index with it; and the same name in a staged build.
    std::filesystem::path installedIndexPath() const { return buildDir() / ".ashenmarch-index"; }
    std::filesystem::path stagedIndexPath() const { return stagingDir() / ".ashenmarch-index"; }
    // While a patch is being staged: the SHA-256 of the index it stages (see PatchUpdate).
    std::filesystem::path patchRecordPath() const { return stagingDir() / ".ashenmarch-patch"; }
    // When the newest signed release this root accepted was published, so that an older one
    // served again is refused (see InstallStore).
    std::filesystem::path acceptedReleasePath() const { return root / "released.txt"; }
    // Held by the one launcher updating this root (see InstallLock).
    std::filesystem::path lockPath() const { return root / ".lock"; }

    // The manifest's bundle inside buildDir(): its exe, or "Ashenmarch.app" when exe is empty.
    std::filesystem::path gameAppPath(const Manifest& manifest) const;
};

} // namespace Core::Install
