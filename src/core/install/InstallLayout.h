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
// Reads the environment: a run calls it once, into an InstallLayout. Never creates the folder.
std::filesystem::path installRoot();

// Every place in one install root. A value built once per run from installRoot() (tests build
// it from a folder of their own) and handed to every step, so a run works in one root from start
// to end. Path arithmetic only: nothing here touches the disk.
struct InstallLayout {
    std::filesystem::path root;

    std::filesystem::path buildDir() const;          // the installed build: root/build
    std::filesystem::path markerPath() const;        // its version: root/installed.txt
    std::filesystem::path archivePath() const;       // a downloaded build: root/update.zip
    std::filesystem::path stagingDir() const;        // a build being unpacked: build.staging
    std::filesystem::path setAsideDir() const;       // the old build during the swap: build.old
    std::filesystem::path pendingRecordPath() const; // the version being swapped in: installing.txt
    std::filesystem::path lockPath() const;          // root/.lock

    // The manifest's bundle inside buildDir(): its exe, or "Ashenmarch.app" when exe is empty.
    std::filesystem::path gameAppPath(const Manifest& manifest) const;
    // The game's executable inside that bundle.
    std::filesystem::path gameExecutablePath(const Manifest& manifest) const;
};

} // namespace Core::Install
