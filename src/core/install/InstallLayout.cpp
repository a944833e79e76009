#include "core/install/InstallLayout.h"

#include "platform/FileSystem.h"

namespace Core::Install {

std::filesystem::path installRoot() {
    if (auto folder = FileSystem::environment("AM_INSTALL_DIR"); folder && !folder->empty()) {
        return *folder;
    }
    return FileSystem::userDataFolder() / "Ashenmarch";
}

std::filesystem::path InstallLayout::gameAppPath(const Manifest& manifest) const {
    // Appended as text: path `/` would let an absolute name replace the whole install root.
    std::filesystem::path app = buildDir();
    app += std::filesystem::path::preferred_separator;
    app += manifest.exe.empty() ? std::string("Ashenmarch.app") : manifest.exe;
    return app;
}

} // namespace Core::Install
