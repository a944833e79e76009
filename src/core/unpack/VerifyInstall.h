#pragma once

#include "formats/FileIndex.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Checks an installed build against its file index, item by item.
namespace Core::Unpack {

struct InstallCheck {
    std::vector<std::string> missing;    // listed, nothing there (or not reachable)
    std::vector<std::string> changed;    // listed, but another kind, content, or execute bit
    std::vector<std::string> unexpected; // there, not listed (a folder's content not repeated)

    bool intact() const { return missing.empty() && changed.empty() && unexpected.empty(); }
};

// Names at the top of a build that begin so are the launcher's own (the build's file index, the
// record of an unpacking over it), never the build's.
inline constexpr std::string_view LauncherFilePrefix = ".ashenmarch-";

// Hashes every file and link the index lists (stamps are not trusted here), on one thread per
// core, and walks the folder for items it does not list (the launcher's own files aside). Paths
// are index paths, each list sorted. Only the owner's execute bit of a file is compared among
// the modes: the rest depend on the umask at install. Blocks; `onHashed` gets the bytes of each
// piece hashed, one call at a time from any of the hashing threads. Throws the "posix" error
// when `build` cannot be opened or walked.
InstallCheck verifyInstall(const FileIndex& index, const std::filesystem::path& build,
                           const std::function<void(std::int64_t bytes)>& onHashed = {});

} // namespace Core::Unpack
