#include "core/unpack/VerifyInstall.h"

#include "core/unpack/BuildItems.h"
#include "core/unpack/DestinationFolder.h"
#include "platform/Error.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace fs = std::filesystem;

namespace Core::Unpack {

namespace {

// Every listed path and every folder on the way to one.
std::unordered_set<std::string> expectedPaths(const FileIndex& index) {
    std::unordered_set<std::string> paths;
    for (const IndexEntry& entry : index.entries) {
        paths.insert(entry.path);
        for (std::size_t slash = entry.path.find('/'); slash != std::string::npos;
             slash = entry.path.find('/', slash + 1)) {
            paths.insert(entry.path.substr(0, slash));
        }
    }
    return paths;
}

bool matches(const DestinationFolder& build, const IndexEntry& entry, const BuildItem& item,
             const std::function<void(std::int64_t)>& onHashed) {
    if (item.kind != entry.kind) {
        return false;
    }
    if (entry.kind == IndexKind::Folder) {
        return true;
    }
    if (entry.kind == IndexKind::File && (item.mode & 0100) != (entry.mode & 0100)) {
        return false;
    }
    return hashItem(build, entry, onHashed) == entry.sha256;
}

std::vector<std::string> unlisted(const fs::path& build,
                                  const std::unordered_set<std::string>& expected) {
    std::vector<std::string> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(build, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const std::string path = walk->path().lexically_relative(build).generic_string();
        if (!expected.contains(path)) {
            found.push_back(path);
            walk.disable_recursion_pending();
        }
    }
    if (error) {
        throw Error::posix(error.value(), "read folder", build);
    }
    return found;
}

} // namespace

InstallCheck verifyInstall(const FileIndex& index, const fs::path& build,
                           const std::function<void(std::int64_t bytes)>& onHashed) {
    const DestinationFolder folder(build);
    InstallCheck check;
    for (const IndexEntry& entry : index.entries) {
        const auto item = lookAt(folder, entry.path);
        if (!item) {
            check.missing.push_back(entry.path);
        } else if (!matches(folder, entry, *item, onHashed)) {
            check.changed.push_back(entry.path);
        }
    }
    check.unexpected = unlisted(build, expectedPaths(index));
    for (auto* list : {&check.missing, &check.changed, &check.unexpected}) {
        std::sort(list->begin(), list->end());
    }
    return check;
}

} // namespace Core::Unpack
