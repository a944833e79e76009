#pragma once

#include "formats/Manifest.h"

#include <filesystem>
#include <string>

// Where the game is installed and which version is recorded. Stateless: the install root is
// resolved afresh at every call and never created here. Callable from any thread.
namespace Core::Install {

// $AM_INSTALL_DIR verbatim when set and not empty, else the user's data folder + "Ashenmarch".
std::filesystem::path installRoot();
std::filesystem::path buildDir();  // installRoot() / "build"
std::filesystem::path markerURL(); // installRoot() / "installed.txt"

// The recorded version, trimmed; empty when nothing readable is recorded (missing file,
// invalid UTF-8, a folder in the way). Never throws.
std::string installedVersion();

// Creates the install root and atomically writes exactly the version's bytes to the marker.
// Failures are dropped: the old marker, if any, stays.
void markInstalled(const std::string& version);

// buildDir() / the manifest's exe, or "Ashenmarch.app" when exe is empty.
std::filesystem::path gameAppURL(const Manifest& manifest);

// Whether anything exists at gameAppURL(manifest).
bool isInstalled(const Manifest& manifest);

} // namespace Core::Install
