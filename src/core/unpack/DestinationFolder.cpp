#include "core/unpack/DestinationFolder.h"

#include "core/unpack/Replacement.h"
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

std::optional<mode_t> TreeWriter::makeFolder(std::string_view path) {
    const auto [parentPath, name] = splitLast(path);
    const int parent = reach(parentPath, true);
    const std::string leaf(name);
    std::optional<mode_t> closed;
    struct stat info {};
    if (::fstatat(parent, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode) &&
        (info.st_mode & S_IRWXU) != S_IRWXU) {
        // AT_SYMLINK_NOFOLLOW: a folder swapped for a link meanwhile fails, never changes what
        // the link leads to.
        if (::fchmodat(parent, leaf.c_str(), (info.st_mode | S_IRWXU) & 07777,
                       AT_SYMLINK_NOFOLLOW) != 0) {
            Unpack::failSystem(path, "open up the folder", errno);
        }
        closed = info.st_mode & 07777;
    }
    reach(path, true);
    return closed;
}

TreeWriter::NewFile TreeWriter::createFile(std::string_view path) {
    const auto [parentPath, name] = splitLast(path);
    const int folder = reach(parentPath, false);
    if (replacing_) {
        for (;;) {
            std::string temporary = temporaryName();
            UniqueFd file(::openat(folder, temporary.c_str(), NewFileFlags, 0600));
            if (file) {
                return {std::move(file), std::move(temporary)};
            }
            if (errno != EEXIST) { // else left by an earlier process of the same id: next name
                Unpack::failSystem(path, "create the file", errno);
            }
        }
    }
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
    return {std::move(file), {}};
}

void TreeWriter::placeFile(std::string_view path, const NewFile& file) {
    if (!file.temporaryName.empty()) {
        replaceWith(reach(splitLast(path).first, false), file.temporaryName, path);
    }
}

void TreeWriter::discardFile(std::string_view path, const NewFile& file) {
    if (file.temporaryName.empty()) {
        return;
    }
    try {
        ::unlinkat(reach(splitLast(path).first, false), file.temporaryName.c_str(), 0);
    } catch (const Error&) {
        // The folder cannot be reached again: the next recovery removes the name.
    }
}

void TreeWriter::replaceWith(int folder, const std::string& temporary, std::string_view path) {
    const std::string leaf(splitLast(path).second);
    if (::renameat(folder, temporary.c_str(), folder, leaf.c_str()) == 0) {
        return;
    }
    int error = errno;
    // A rename replaces a file or link by itself; only an empty folder needs removing first.
    if (error == EISDIR || error == ENOTEMPTY || error == EEXIST) {
        error = removeItem(folder, leaf.c_str());
        if (error == 0 && ::renameat(folder, temporary.c_str(), folder, leaf.c_str()) == 0) {
            return;
        }
        error = error != 0 ? error : errno;
    }
    ::unlinkat(folder, temporary.c_str(), 0);
    Unpack::failSystem(path, "replace an item", error);
}

void TreeWriter::makeLink(std::string_view path, const std::string& target) {
    const auto [parentPath, name] = splitLast(path);
    const int folder = reach(parentPath, false);
    if (replacing_) {
        std::string temporary = temporaryName();
        while (::symlinkat(target.c_str(), folder, temporary.c_str()) != 0) {
            if (errno != EEXIST) {
                Unpack::failSystem(path, "create the link", errno);
            }
            temporary = temporaryName();
        }
        replaceWith(folder, temporary, path);
        return;
    }
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
