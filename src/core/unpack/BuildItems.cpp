#include "core/unpack/BuildItems.h"

#include "core/trust/Sha256.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Core::Unpack {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr std::size_t ReadBlock = 1 << 20;

std::optional<std::string> hashFile(int folder, const std::string& name, std::int64_t size,
                                    const std::function<void(std::int64_t)>& onHashed) {
    const UniqueFd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != size) {
        return std::nullopt;
    }
    Trust::Sha256 hash;
    std::vector<char> block(ReadBlock);
    for (;;) {
        const ssize_t count = ::read(file.get(), block.data(), block.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return hash.hexDigest();
        }
        hash.update({block.data(), static_cast<std::size_t>(count)});
        if (onHashed) {
            onHashed(count);
        }
    }
}

std::optional<std::string> hashLink(int folder, const std::string& name) {
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
        return std::nullopt;
    }
    Trust::Sha256 hash;
    hash.update({target.data(), static_cast<std::size_t>(length)});
    return hash.hexDigest();
}

// The folder `name` in `parent`, made first with `create` when missing.
UniqueFd openChildFolder(int parent, std::string_view name, bool create) {
    if (name.empty() || name == "." || name == "..") {
        errno = EINVAL; // only checked paths come here; this keeps it so
        return {};
    }
    const std::string child(name);
    UniqueFd folder(::openat(parent, child.c_str(), FolderFlags));
    if (!folder && create && errno == ENOENT &&
        (::mkdirat(parent, child.c_str(), 0777) == 0 || errno == EEXIST)) {
        folder.reset(::openat(parent, child.c_str(), FolderFlags));
    }
    return folder;
}

} // namespace

UniqueFd openFolderBelow(int root, std::string_view path, bool create) {
    UniqueFd folder(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    while (folder && !path.empty()) {
        const std::size_t slash = std::min(path.find('/'), path.size());
        folder = openChildFolder(folder.get(), path.substr(0, slash), create);
        path.remove_prefix(std::min(slash + 1, path.size()));
    }
    return folder;
}

std::pair<std::string_view, std::string_view> splitParent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {{}, path};
    }
    return {path.substr(0, slash), path.substr(slash + 1)};
}

int FolderChain::reach(std::string_view path, bool create) {
    // Back to the deepest open folder on the way to the path.
    while (!open_.empty() &&
           !(path == open_.back().first ||
             (path.starts_with(open_.back().first) && path[open_.back().first.size()] == '/'))) {
        open_.pop_back();
    }
    std::size_t done = open_.empty() ? 0 : open_.back().first.size() + 1;
    while (done < path.size() + 1 && !path.empty()) {
        const std::size_t end = std::min(path.find('/', done), path.size());
        const int parent = open_.empty() ? root_ : open_.back().second.get();
        UniqueFd child = openChildFolder(parent, path.substr(done, end - done), create);
        if (!child) {
            return -1;
        }
        open_.emplace_back(std::string(path.substr(0, end)), std::move(child));
        done = end + 1;
    }
    return open_.empty() ? root_ : open_.back().second.get();
}

namespace {

std::optional<BuildItem> itemIn(int folder, std::string_view name) {
    struct stat info {};
    if (folder < 0 ||
        ::fstatat(folder, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    BuildItem item;
    if (S_ISDIR(info.st_mode)) {
        item.kind = IndexKind::Folder;
    } else if (S_ISLNK(info.st_mode)) {
        item.kind = IndexKind::Link;
    } else if (!S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    item.mode = info.st_mode & 0777;
    item.size = info.st_size;
#if defined(__APPLE__)
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    item.modified = static_cast<std::int64_t>(modified.tv_sec) * 1'000'000'000 + modified.tv_nsec;
    return item;
}

} // namespace

std::optional<BuildItem> lookAt(const DestinationFolder& build, std::string_view path) {
    const auto [parent, name] = splitParent(path);
    const UniqueFd folder = openFolderBelow(build.descriptor(), parent);
    return itemIn(folder ? folder.get() : -1, name);
}

std::optional<BuildItem> lookAt(FolderChain& build, std::string_view path) {
    const auto [parent, name] = splitParent(path);
    return itemIn(build.reach(parent), name);
}

std::optional<std::string> hashItem(const DestinationFolder& build, const IndexEntry& entry,
                                    const std::function<void(std::int64_t)>& onHashed) {
    const auto [parent, name] = splitParent(entry.path);
    const UniqueFd folder = openFolderBelow(build.descriptor(), parent);
    if (!folder || entry.kind == IndexKind::Folder) {
        return std::nullopt;
    }
    const std::string leaf(name);
    return entry.kind == IndexKind::Link ? hashLink(folder.get(), leaf)
                                         : hashFile(folder.get(), leaf, entry.size, onHashed);
}

} // namespace Core::Unpack
