#pragma once

#include "core/install/InstallLayout.h"
#include "formats/FileIndex.h"
#include "formats/ReleaseTime.h"

#include <optional>
#include <string>

// Which version is installed, and the file index of the build. Stateless, callable from any
// thread; never creates the root except to write the marker.
namespace Core::Install {

// The recorded version, trimmed; empty when nothing readable is recorded (missing file,
// invalid UTF-8, a folder in the way). Never throws.
std::string installedVersion(const InstallLayout& layout);

// Creates the install root and atomically writes exactly the version's bytes to the marker.
// Failures are dropped: the old marker, if any, stays.
void markInstalled(const InstallLayout& layout, const std::string& version);

// Whether anything exists at layout.gameAppPath(manifest).
bool isInstalled(const InstallLayout& layout, const Manifest& manifest);

// The installed build's file index, as the update that installed it kept it. Nothing when none
// is kept (a build installed before indexes, or a release without one) or it does not read as
// an index: whatever it would vouch for is then hashed instead. Never throws.
std::optional<FileIndex> installedIndex(const InstallLayout& layout);

// Writes the release's index into the staged build, each file's modification time there as its
// stamp, so that the swap brings build and index in together. Throws the "posix" error.
void keepIndex(const InstallLayout& layout, FileIndex index);

// Whether the build holds a bundle with its executable (<bundle>/Contents/MacOS/ASHENMARCH),
// whatever the bundle is called: one a player can start. Never throws.
bool hasPlayableBuild(const InstallLayout& layout);

// The `released` of the newest signed release this root accepted; nothing when none is recorded
// or the record cannot be read (the next accepted release writes it afresh). Never throws.
std::optional<ReleaseTime> newestAcceptedRelease(const InstallLayout& layout);

// Records `released` as the newest accepted release, atomically, unless the record already
// holds a newer one. The caller holds the install lock. Throws the file-system error.
void recordAcceptedRelease(const InstallLayout& layout, ReleaseTime released);

} // namespace Core::Install
