#include "core/unpack/DestinationFolder.h"

#include "core/unpack/UnpackError.h"
#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Core::Unpack {

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

bool isInside(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
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

// Opens the folder `name` inside `folder`; with `create`, a missing one is made and anything
// else standing there replaced by a folder.
UniqueFd openChild(int folder, const std::string& name, bool create, std::string_view path) {
    UniqueFd child(::openat(folder, name.c_str(), FolderFlags));
    if (!child && create && (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)) {
        if (errno != ENOENT) {
            if (const int error = removeItem(folder, name.c_str())) {
                Unpack::failSystem(path, "replace an item with a folder", error);
            }
        }
        if (::mkdirat(folder, name.c_str(), 0777) != 0 && errno != EEXIST) {
            Unpack::failSystem(path, "create the folder", errno);
        }
        child.reset(::openat(folder, name.c_str(), FolderFlags));
    }
    if (!child) {
        Unpack::failSystem(path, "open the folder", errno);
    }
    return child;
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

int TreeWriter::reach(std::string_view path, bool create) {
    while (!openFolders_.empty() && openFolders_.back().first != path &&
           !isInside(path, openFolders_.back().first)) {
        openFolders_.pop_back();
    }
    std::size_t done = openFolders_.empty() ? 0 : openFolders_.back().first.size();
    while (done < path.size()) {
        const std::size_t start = done == 0 ? 0 : done + 1;
        const std::size_t end = std::min(path.find('/', start), path.size());
        const int parent =
            openFolders_.empty() ? destination_.descriptor() : openFolders_.back().second.get();
        UniqueFd child = openChild(parent, std::string(path.substr(start, end - start)), create,
                                   path.substr(0, end));
        openFolders_.emplace_back(std::string(path.substr(0, end)), std::move(child));
        done = end;
    }
    return openFolders_.empty() ? destination_.descriptor() : openFolders_.back().second.get();
}

void TreeWriter::makeFolder(std::string_view path) {
    reach(path, true);
}

UniqueFd TreeWriter::createFile(std::string_view path) {
    const auto [parentPath, name] = splitLast(path);
    const int folder = reach(parentPath, false);
    const std::string leaf(name);
    // Owner-only until the caller sets the final mode, once the content is complete.
    UniqueFd file(::openat(folder, leaf.c_str(), NewFileFlags, 0600));
    if (!file && errno == EEXIST) {
        if (const int error = removeItem(folder, leaf.c_str())) {
            Unpack::failSystem(path, "replace the file", error);
        }
        file.reset(::openat(folder, leaf.c_str(), NewFileFlags, 0600));
    }
    if (!file) {
        Unpack::failSystem(path, "create the file", errno);
    }
    return file;
}

void TreeWriter::makeLink(std::string_view path, const std::string& target) {
    const auto [parentPath, name] = splitLast(path);
    const int folder = reach(parentPath, false);
    const std::string leaf(name);
    int status = ::symlinkat(target.c_str(), folder, leaf.c_str());
    if (status != 0 && errno == EEXIST) {
        if (const int error = removeItem(folder, leaf.c_str())) {
            Unpack::failSystem(path, "replace an item with a link", error);
        }
        status = ::symlinkat(target.c_str(), folder, leaf.c_str());
    }
    if (status != 0) {
        Unpack::failSystem(path, "create the link", errno);
    }
}

void TreeWriter::setFolderMode(std::string_view path, mode_t mode) {
    if (::fchmod(reach(path, false), mode) != 0) {
        Unpack::failSystem(path, "set the folder's mode", errno);
    }
}

} // namespace Core::Unpack
