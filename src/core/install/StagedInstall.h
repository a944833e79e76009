#pragma once

#include "core/install/InstallLayout.h"
#include "platform/FileSystem.h"

#include <functional>

// Installs a downloaded build without ever damaging the installed one.
//
// The archive is unpacked (or a patch staged) into a staging folder beside `build`, with the
// build's file index, and checked there. Only a complete bundle is swapped in: a pending record
// names the version, the old `build` is set aside, the staged one renamed in, the marker
// written, then the old copy removed. Every step is a rename or an atomic write, so an
// interruption at any point leaves a state that recoverInterruptedUpdate() turns into exactly
// one complete build whose marker matches it; the index travels inside the build, so it always
// describes the build it sits in.
//
// All calls block, run on the caller's thread and throw Error. One updater per install root at a
// time (the caller holds the install lock).
namespace Core::Install {

// What unpacking into the staging folder produced.
struct StagedBuild {
    bool hasBundle = false;     // the manifest's bundle exists in the staging folder
    bool hasExecutable = false; // and holds Contents/MacOS/ASHENMARCH
};

// Finishes or rolls back an update that a crash interrupted, and removes leftovers (staging
// folder, set-aside build, temporary names of downloads, marker writes and of unpacking over
// `build`), whatever modes the archive gave their folders. A folder that still resists removal
// is moved aside under a fresh name, never left where it would block an update. The staging
// folder of a patch cut short (it holds the patch record) stays for the next patch to go on
// from. Best effort: never throws.
void recoverInterruptedUpdate(const InstallLayout& layout);

// Whether an interrupted update left anything in the root for recoverInterruptedUpdate to
// settle. Only reads, so it needs neither the install lock nor a root the player may write.
// Never throws.
bool hasInterruptedUpdate(const InstallLayout& layout);

// Clears any old staging folder (a patch's too) and unpacks the downloaded archive into a fresh one. First the
// volume must have room for what the archive's entries declare ("am" 9, nothing unpacked
// otherwise). On an unpacking error the staging folder is removed and the error rethrown; `build`
// and the marker are untouched.
StagedBuild stageBuild(const InstallLayout& layout, const Manifest& manifest);

// What the staging folder holds of the manifest's bundle, however it was filled.
StagedBuild inspectStagedBuild(const InstallLayout& layout, const Manifest& manifest);

// Removes the staging folder (after a staged build was found wanting).
void discardStagedBuild(const InstallLayout& layout);

// Where a commit waits for the disk. A power cut may keep any part of what was written but not
// synced, so the staged tree must be on the disk before a name points at it, and the swap
// before the marker names the new build. Tests put recorders here.
struct DiskSync {
    std::function<void(const std::filesystem::path&)> tree = FileSystem::syncTree;
    std::function<void(const std::filesystem::path&)> folder = FileSystem::syncFolder;
};

// Swaps the staged build into `build` and records the manifest's version: the staged tree
// synced, the pending record written, the old build set aside and the new one renamed in, the
// root synced, then the marker written (and synced). Throws the file-system error if the sync
// fails or the swap cannot start; the old build then stays in place.
void commitStagedBuild(const InstallLayout& layout, const Manifest& manifest,
                       const DiskSync& sync = {});

} // namespace Core::Install
