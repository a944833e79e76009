#include "core/install/InstallLayout.h"

#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace Core::Install {

fs::path installRoot() {
    if (auto folder = FileSystem::environment("AM_INSTALL_DIR"); folder && !folder->empty()) {
        return *folder;
    }
    return FileSystem::userDataFolder() / "Ashenmarch";
}

fs::path InstallLayout::gameAppPath(const Manifest& manifest) const {
    // Appended as text: path `/` would let an absolute name replace the whole install root.
    fs::path app = buildDir();
    app += fs::path::preferred_separator;
    app += manifest.exe.empty() ? std::string("Ashenmarch.app") : manifest.exe;
    return app;
}

} // namespace Core::Install
