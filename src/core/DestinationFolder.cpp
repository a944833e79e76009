#include "core/DestinationFolder.h"

#include "core/UnpackError.h"
#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// O_EXCL: the file is always new, so nothing already there (a link, or a hard link to a file
// elsewhere) is ever written through.
constexpr int NewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// "a/b/c" gives "a/b" and "c"; a bare name has the empty parent.
std::pair<std::string_view, std::string_view> splitLast(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {{}, path};
    }
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// Calls `step` with each name of the path in turn.
template <typename Step> void forEachName(std::string_view path, Step step) {
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        step(std::string(path.substr(0, slash)));
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
}

// Removes a file, link or empty folder standing at the name. Returns 0 when the name is free
// now, else the errno that says why not.
int removeItem(int folder, const char* name) {
    if (::unlinkat(folder, name, 0) == 0 || errno == ENOENT) {
        return 0;
    }
    const int fileError = errno;
    if (fileError != EISDIR && fileError != EPERM) { // EPERM: how macOS refuses to unlink folders
        return fileError;
    }
    if (::unlinkat(folder, name, AT_REMOVEDIR) == 0) {
        return 0;
    }
    return errno == ENOTDIR ? fileError : errno;
}

UniqueFd openChild(int folder, const std::string& name) {
    return UniqueFd(::openat(folder, name.c_str(), FolderFlags));
}

} // namespace

DestinationFolder::DestinationFolder(const std::filesystem::path& folder)
    : root_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (!root_) {
        throw Error::posix(errno, "open folder", folder);
    }
}

DestinationFolder::Found DestinationFolder::lookup(const std::string& path) const {
    struct stat info {};
    if (::fstatat(root_.get(), path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return Found::Nothing;
    }
    return S_ISLNK(info.st_mode) ? Found::Link : Found::Other;
}

void DestinationFolder::makeFolder(std::string_view path) const {
    UniqueFd folder = openFolder({});
    forEachName(path, [&](const std::string& name) {
        UniqueFd next = openChild(folder.get(), name);
        if (!next && (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)) {
            if (errno != ENOENT) {
                if (const int error = removeItem(folder.get(), name.c_str())) {
                    Unpack::failSystem(path, "replace an item with a folder", error);
                }
            }
            if (::mkdirat(folder.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
                Unpack::failSystem(path, "create the folder", errno);
            }
            next = openChild(folder.get(), name);
        }
        if (!next) {
            Unpack::failSystem(path, "open the folder", errno);
        }
        folder = std::move(next);
    });
}

UniqueFd DestinationFolder::openFolder(std::string_view path) const {
    UniqueFd folder(::openat(root_.get(), ".", FolderFlags));
    if (!folder) {
        Unpack::failSystem(path, "open the folder", errno);
    }
    forEachName(path, [&](const std::string& name) {
        folder = openChild(folder.get(), name);
        if (!folder) {
            Unpack::failSystem(path, "open the folder", errno);
        }
    });
    return folder;
}

void DestinationFolder::setFolderMode(std::string_view path, mode_t mode) const {
    if (::fchmod(openFolder(path).get(), mode) != 0) {
        Unpack::failSystem(path, "set the folder's mode", errno);
    }
}

void DestinationFolder::makeLink(std::string_view path, const std::string& target) const {
    const auto [parentPath, name] = splitLast(path);
    const UniqueFd parent = openFolder(parentPath);
    const std::string leaf(name);
    int status = ::symlinkat(target.c_str(), parent.get(), leaf.c_str());
    if (status != 0 && errno == EEXIST) {
        if (const int error = removeItem(parent.get(), leaf.c_str())) {
            Unpack::failSystem(path, "replace an item with a link", error);
        }
        status = ::symlinkat(target.c_str(), parent.get(), leaf.c_str());
    }
    if (status != 0) {
        Unpack::failSystem(path, "create the link", errno);
    }
}

UniqueFd FileMaker::create(std::string_view path) {
    const auto [parentPath, name] = splitLast(path);
    if (!folder_ || parentPath != folderPath_) {
        folder_ = destination_.openFolder(parentPath);
        folderPath_ = parentPath;
    }
    const std::string leaf(name);
    // Owner-only until the final mode is set, once the content is complete.
    UniqueFd file(::openat(folder_.get(), leaf.c_str(), NewFileFlags, 0600));
    if (!file && errno == EEXIST) {
        if (const int error = removeItem(folder_.get(), leaf.c_str())) {
            Unpack::failSystem(path, "replace the file", error);
        }
        file.reset(::openat(folder_.get(), leaf.c_str(), NewFileFlags, 0600));
    }
    if (!file) {
        Unpack::failSystem(path, "create the file", errno);
    }
    return file;
}
