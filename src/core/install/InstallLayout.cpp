#include "core/install/InstallLayout.h"

#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"

namespace fs = std::filesystem;

namespace Core::Install {

fs::path installRoot() {
    if (auto folder = FileSystem::environment("AM_INSTALL_DIR"); folder && !folder->empty()) {
        return *folder;
    }
    return FileSystem::userDataFolder() / "Ashenmarch";
}

fs::path InstallLayout::buildDir() const {
    return root / "build";
}

fs::path InstallLayout::markerPath() const {
    return root / "installed.txt";
}

fs::path InstallLayout::archivePath() const {
    return root / "update.zip";
}

fs::path InstallLayout::stagingDir() const {
    return root / "build.staging";
}

fs::path InstallLayout::setAsideDir() const {
    return root / "build.old";
}

fs::path InstallLayout::pendingRecordPath() const {
    return root / "installing.txt";
}

fs::path InstallLayout::lockPath() const {
    return root / ".lock";
}

fs::path InstallLayout::gameAppPath(const Manifest& manifest) const {
    // Appended as text: path `/` would let an absolute name replace the whole install root.
    fs::path app = buildDir();
    app += fs::path::preferred_separator;
    app += manifest.exe.empty() ? std::string("Ashenmarch.app") : manifest.exe;
    return app;
}

fs::path InstallLayout::gameExecutablePath(const Manifest& manifest) const {
    return bundleExecutable(gameAppPath(manifest));
}

} // namespace Core::Install
