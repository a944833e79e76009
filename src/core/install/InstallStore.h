#pragma once

#include "core/install/InstallLayout.h"

#include <string>

// Which version is installed. Stateless, callable from any thread; never creates the root except
// to write the marker.
namespace Core::Install {

// The recorded version, trimmed; empty when nothing readable is recorded (missing file,
// invalid UTF-8, a folder in the way). Never throws.
std::string installedVersion(const InstallLayout& layout);

// Creates the install root and atomically writes exactly the version's bytes to the marker.
// Failures are dropped: the old marker, if any, stays.
void markInstalled(const InstallLayout& layout, const std::string& version);

// Whether anything exists at layout.gameAppPath(manifest).
bool isInstalled(const InstallLayout& layout, const Manifest& manifest);

} // namespace Core::Install
