#include "core/unpack/TreeRemoval.h"

#include "core/unpack/Replacement.h"
#include "platform/Error.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace Core::Unpack {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names in a folder, without "." and "..", read in full before any is removed: removing
// while reading may skip entries on some file systems.
std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int listed = ::dup(folder);
    DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (listing == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(listing);
    return names;
}

// The first item that resisted removal.
struct Resisting {
    int error = 0;
    std::string path;

    void note(int errnum, const std::string& where) {
        if (error == 0) {
            error = errnum;
            path = where;
        }
    }
};

// Opens the folder `name` for removing what it holds: read, write and search for its owner.
// Never through a link: fchmodat refuses to follow one, and the open does not.
UniqueFd openedUp(int parent, const char* name) {
    UniqueFd folder(::openat(parent, name, FolderFlags));
    if (!folder && errno == EACCES && ::fchmodat(parent, name, S_IRWXU, AT_SYMLINK_NOFOLLOW) == 0) {
        folder.reset(::openat(parent, name, FolderFlags));
    }
    struct stat info {};
    if (folder && ::fstat(folder.get(), &info) == 0 && (info.st_mode & S_IRWXU) != S_IRWXU) {
        ::fchmod(folder.get(), (info.st_mode | S_IRWXU) & 07777);
    }
    return folder;
}

void removeItem(int parent, const std::string& name, const std::string& path, Resisting& first) {
    if (::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT) {
        return;
    }
    const int fileError = errno;
    if (fileError != EISDIR && fileError != EPERM) { // EPERM: how macOS refuses folders
        first.note(fileError, path);
        return;
    }
    const UniqueFd folder = openedUp(parent, name.c_str());
    if (!folder) {
        first.note(errno == ENOTDIR ? fileError : errno, path);
        return;
    }
    for (const std::string& child : namesIn(folder.get())) {
        removeItem(folder.get(), child, path + "/" + child, first);
    }
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
        first.note(errno, path);
    }
}

void removeTemporaryNames(int folder) {
    for (const std::string& name : namesIn(folder)) {
        if (isTemporaryName(name)) {
            ::unlinkat(folder, name.c_str(), 0);
        } else if (const UniqueFd child(::openat(folder, name.c_str(), FolderFlags)); child) {
            // A folder that cannot be opened holds none: unpacking opens every folder it
            // writes into before the first temporary name, and closes them after the last.
            removeTemporaryNames(child.get());
        }
    }
}

} // namespace

void removeTree(const fs::path& path) {
    const fs::path item = path.has_filename() ? path : path.parent_path();
    const fs::path parentPath = item.has_parent_path() ? item.parent_path() : fs::path(".");
    const UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        if (errno != ENOENT) {
            throw Error::posix(errno, "remove", item);
        }
        return;
    }
    Resisting first;
    removeItem(parent.get(), item.filename().string(), item.string(), first);
    if (first.error != 0) {
        throw Error::posix(first.error, "remove", first.path);
    }
}

void removeUnpackingLeftovers(const fs::path& folder) {
    const UniqueFd tree(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat record {};
    if (!tree || ::fstatat(tree.get(), ReplacementRecordName, &record, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    removeTemporaryNames(tree.get());
    ::unlinkat(tree.get(), ReplacementRecordName, 0);
}

bool hasUnpackingLeftovers(const fs::path& folder) {
    struct stat record {};
    return ::lstat((folder / ReplacementRecordName).c_str(), &record) == 0;
}

} // namespace Core::Unpack
