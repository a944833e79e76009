#include "core/install/BundleName.h"

#include "platform/Error.h"

namespace Core::Install {

void requireSafeBundleName(const Manifest& manifest) {
    const std::string& name = manifest.exe;
    const bool unsafe = name == "." || name == ".." ||
                        name.find_first_of("/\\") != std::string::npos ||
                        name.find('\0') != std::string::npos;
    if (unsafe) {
        throw Error::am(AmCode::UnsafeBundleName, "manifest has an unsafe macexe");
    }
}

} // namespace Core::Install
