#include "core/install/InstallStore.h"

#include "formats/Text.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace Core::Install {

std::string installedVersion(const InstallLayout& layout) {
    try {
        return std::string(
            Text::trimWhitespaceAndNewlines(FileSystem::readText(layout.markerPath())));
    } catch (const Error&) {
        // An unreadable marker means the same as none: the next check installs again.
        return {};
    }
}

void markInstalled(const InstallLayout& layout, const std::string& version) {
    try {
        FileSystem::createFolder(layout.root);
    } catch (const Error&) {
        // The write below fails on its own if the folder is really missing.
    }
    try {
        FileSystem::writeTextAtomically(layout.markerPath(), version);
    } catch (const Error&) {
        // Best effort: the old marker stays, and at worst the next check installs again.
    }
}

bool isInstalled(const InstallLayout& layout, const Manifest& manifest) {
    return FileSystem::exists(layout.gameAppPath(manifest));
}

} // namespace Core::Install
