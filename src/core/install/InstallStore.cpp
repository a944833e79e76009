#include "core/install/InstallStore.h"

#include "formats/Text.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace Core::Install {

fs::path installRoot() {
    if (auto folder = FileSystem::environment("AM_INSTALL_DIR"); folder && !folder->empty()) {
        return *folder;
    }
    return FileSystem::userDataFolder() / "Ashenmarch";
}

fs::path buildDir() {
    return installRoot() / "build";
}

fs::path markerURL() {
    return installRoot() / "installed.txt";
}

std::string installedVersion() {
    try {
        return std::string(Text::trimWhitespaceAndNewlines(FileSystem::readText(markerURL())));
    } catch (const Error&) {
        // An unreadable marker means the same as none: the next check installs again.
        return {};
    }
}

void markInstalled(const std::string& version) {
    // One resolution for both steps, so the folder made is the one written into.
    const fs::path marker = markerURL();
    try {
        FileSystem::createFolder(marker.parent_path());
    } catch (const Error&) {
        // The write below fails on its own if the folder is really missing.
    }
    try {
        FileSystem::writeTextAtomically(marker, version);
    } catch (const Error&) {
        // Best effort: the old marker stays, and at worst the next check installs again.
    }
}

fs::path gameAppURL(const Manifest& manifest) {
    // Appended as text: path `/` would let an absolute name replace the whole install root.
    fs::path app = buildDir();
    app += fs::path::preferred_separator;
    app += manifest.exe.empty() ? std::string("Ashenmarch.app") : manifest.exe;
    return app;
}

bool isInstalled(const Manifest& manifest) {
    return FileSystem::exists(gameAppURL(manifest));
}

} // namespace Core::Install
