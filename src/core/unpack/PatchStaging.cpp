#include "core/unpack/PatchStaging.h"

#include "core/unpack/BuildItems.h"
#include "core/unpack/EntrySafety.h"
#include "core/unpack/UnpackError.h"
#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <functional>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace Core::Unpack {

namespace {

using EntrySafety::EntryKind;

constexpr int NewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr std::size_t CopyBlock = 1 << 20;
constexpr int NameAttempts = 16;
constexpr std::string_view PartialPrefix = ".am-partial-";

// The check runs before anything is reached by the entry's path. A link's target is checked
// once known; until then a harmless stand-in takes its place.
const IndexEntry& requireSafe(const IndexEntry& entry, const std::string& linkTarget = "x") {
    const EntryKind kind = entry.kind == IndexKind::Link     ? EntryKind::SymbolicLink
                           : entry.kind == IndexKind::Folder ? EntryKind::Folder
                                                             : EntryKind::File;
    if (const auto refusal = EntrySafety::refusal(entry.path, kind, linkTarget)) {
        fail("unsafe entry " + shownName(entry.path) + ": " + *refusal);
    }
    return entry;
}

// The staging folder the entry goes into, made when missing.
int reachedOrFail(FolderChain& staging, const IndexEntry& entry) {
    const int folder = staging.reach(splitParent(entry.path).first, true);
    if (folder < 0) {
        failSystem(entry.path, "open the folder", errno);
    }
    return folder;
}

UniqueFd reachParent(const DestinationFolder& root, const IndexEntry& entry, bool create) {
    UniqueFd folder = openFolderBelow(root.descriptor(), splitParent(entry.path).first, create);
    if (!folder) {
        failSystem(entry.path, "open the folder", errno);
    }
    return folder;
}

// Makes an item under a fresh temporary name in the folder with `create`, which returns false
// with errno set when it could not; returns the name.
std::string makeTemporary(const std::string& path,
                          const std::function<bool(const std::string&)>& create) {
    thread_local std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        const std::string name = std::string(PartialPrefix) + std::to_string(random());
        if (create(name)) {
            return name;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    failSystem(path, "create a temporary item", errno);
}

void writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            failSystem(path, "write the file", errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void copyContent(int from, int to, const std::string& path) {
#if defined(__linux__)
    if (::ioctl(to, FICLONE, from) == 0) {
        return;
    }
#endif
    std::vector<char> block(CopyBlock);
    for (;;) {
        const ssize_t count = ::read(from, block.data(), block.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            failSystem(path, "read the installed file", errno);
        }
        if (count == 0) {
            return;
        }
        writeAll(to, {block.data(), static_cast<std::size_t>(count)}, path);
    }
}

// Closes a completed file with its mode and renames it from its temporary name into place.
void settleFile(UniqueFd file, int folder, const std::string& partial, const std::string& name,
                const IndexEntry& entry, mode_t umask) {
    if (::fchmod(file.get(), entry.mode & ~umask) != 0) {
        failSystem(entry.path, "set the file's mode", errno);
    }
    if (::close(file.release()) != 0) {
        failSystem(entry.path, "write the file", errno);
    }
    if (::renameat(folder, partial.c_str(), folder, name.c_str()) != 0) {
        failSystem(entry.path, "rename the file into place", errno);
    }
}

void placeLink(int folder, const std::string& name, const IndexEntry& entry,
               const std::string& target) {
    requireSafe(entry, target);
    const std::string partial = makeTemporary(entry.path, [&](const std::string& temp) {
        return ::symlinkat(target.c_str(), folder, temp.c_str()) == 0;
    });
    if (::renameat(folder, partial.c_str(), folder, name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(folder, partial.c_str(), 0);
        failSystem(entry.path, "rename the link into place", error);
    }
}

// Gives the installed file a second name in staging, for a file whose mode stays: no byte is
// copied, and the installed file is not changed, for nothing writes into a file in place
// (staging, unpacking and the swap all replace files by rename). False when the file system
// makes no such links; the caller copies instead.
bool linkInstalled(int from, int to, const std::string& name, const IndexEntry& entry) {
    // Into a fresh staging folder the link is made at its name at once: whole from the start.
    if (::linkat(from, name.c_str(), to, name.c_str(), 0) == 0) {
        return true;
    }
    std::string partial;
    try {
        partial = makeTemporary(entry.path, [&](const std::string& temp) {
            return ::linkat(from, name.c_str(), to, temp.c_str(), 0) == 0;
        });
    } catch (const Error&) {
        return false; // not supported here (EPERM, EXDEV, EMLINK, …): copied instead
    }
    if (::renameat(to, partial.c_str(), to, name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(to, partial.c_str(), 0);
        failSystem(entry.path, "rename the file into place", error);
    }
    return true;
}

[[noreturn]] void checksumMismatch(const IndexEntry& entry, const std::string& actual) {
    throw Error::am(AmCode::ChecksumMismatch, "download checksum mismatch",
                    "entry " + shownName(entry.path) + ": expected " + entry.sha256 + ", got " +
                        actual);
}

std::size_t depth(const std::string& path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

} // namespace

StagedEntry::StagedEntry(const DestinationFolder& staging, const IndexEntry& entry, mode_t umask)
    : entry_(entry), umask_(umask), folder_(reachParent(staging, requireSafe(entry), true)),
      name_(splitParent(entry.path).second),
      inflater_(entry.path, entry.size, [this](std::string_view bytes) { write(bytes); }) {
    if (entry.kind == IndexKind::Folder ||
        (entry.kind == IndexKind::Link && entry.size > PATH_MAX)) {
        fail("entry " + shownName(entry.path) + ": not a file or link the launcher can stage");
    }
    if (entry.kind == IndexKind::File) {
        partial_ = makeTemporary(entry.path, [&](const std::string& temp) {
            file_.reset(::openat(folder_.get(), temp.c_str(), NewFileFlags, 0600));
            return static_cast<bool>(file_);
        });
    }
}

StagedEntry::~StagedEntry() {
    if (!partial_.empty()) {
        ::unlinkat(folder_.get(), partial_.c_str(), 0);
    }
}

void StagedEntry::feed(std::string_view recordBytes) {
    inflater_.feed(recordBytes);
}

void StagedEntry::write(std::string_view bytes) {
    hash_.update(bytes);
    if (entry_.kind == IndexKind::Link) {
        linkTarget_.append(bytes);
    } else {
        writeAll(file_.get(), bytes, entry_.path);
    }
}

void StagedEntry::commit() {
    inflater_.finish();
    const std::string actual = hash_.hexDigest();
    if (actual != entry_.sha256) {
        checksumMismatch(entry_, actual);
    }
    if (entry_.kind == IndexKind::Link) {
        placeLink(folder_.get(), name_, entry_, linkTarget_);
        return;
    }
    settleFile(std::move(file_), folder_.get(), partial_, name_, entry_, umask_);
    partial_.clear();
}

void stageRecord(const DestinationFolder& staging, const IndexEntry& entry, std::string_view record,
                 mode_t umask) {
    StagedEntry staged(staging, entry, umask);
    staged.feed(record);
    staged.commit();
}

void takeInstalled(FolderChain& installed, FolderChain& staging, const IndexEntry& entry,
                   mode_t umask) {
    requireSafe(entry);
    const auto [parent, leaf] = splitParent(entry.path);
    const std::string name(leaf);
    const int from = installed.reach(parent);
    if (from < 0) {
        failSystem(entry.path, "open the folder", errno);
    }
    if (entry.kind == IndexKind::Link) {
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t length = ::readlinkat(from, name.c_str(), target.data(), target.size());
        Trust::Sha256 hash;
        hash.update({target.data(), static_cast<std::size_t>(std::max<ssize_t>(length, 0))});
        if (length < 0 || static_cast<std::size_t>(length) == target.size() ||
            hash.hexDigest() != entry.sha256) {
            fail("entry " + shownName(entry.path) + ": the installed link changed");
        }
        const std::string text(target.data(), static_cast<std::size_t>(length));
        placeLink(reachedOrFail(staging, entry), name, entry, text);
        return;
    }
    struct stat info {};
    if (::fstatat(from, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != entry.size) {
        fail("entry " + shownName(entry.path) + ": the installed file changed");
    }
    // The two chains are apart, so the installed folder's descriptor stays valid.
    const int to = reachedOrFail(staging, entry);
    if ((info.st_mode & 07777) == (entry.mode & ~umask & 07777) &&
        linkInstalled(from, to, name, entry)) {
        return;
    }
    // Copied: checked again on the open file, which is what is read.
    const UniqueFd source(::openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source || ::fstat(source.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != entry.size) {
        fail("entry " + shownName(entry.path) + ": the installed file changed");
    }
    UniqueFd copy;
    std::string partial = makeTemporary(entry.path, [&](const std::string& temp) {
        copy.reset(::openat(to, temp.c_str(), NewFileFlags, 0600));
        return static_cast<bool>(copy);
    });
    try {
        copyContent(source.get(), copy.get(), entry.path);
        settleFile(std::move(copy), to, partial, name, entry, umask);
    } catch (...) {
        ::unlinkat(to, partial.c_str(), 0);
        throw;
    }
}

void finishFolders(const FileIndex& index, const DestinationFolder& staging, mode_t umask) {
    std::vector<const IndexEntry*> folders;
    FolderChain chain(staging);
    for (const IndexEntry& entry : index.entries) {
        if (entry.kind == IndexKind::Folder) {
            requireSafe(entry);
            if (chain.reach(entry.path, true) < 0) {
                failSystem(entry.path, "create the folder", errno);
            }
            folders.push_back(&entry);
        }
    }
    std::stable_sort(folders.begin(), folders.end(), [](const IndexEntry* a, const IndexEntry* b) {
        return depth(a->path) > depth(b->path);
    });
    for (const IndexEntry* folder : folders) {
        const int fd = chain.reach(folder->path);
        if (fd < 0 || ::fchmod(fd, folder->mode & ~umask) != 0) {
            failSystem(folder->path, "set the folder's mode", errno);
        }
    }
}

void removePartialItems(const std::filesystem::path& staging) {
    std::vector<std::filesystem::path> partial;
    std::error_code error;
    for (auto item = std::filesystem::recursive_directory_iterator(
             staging, std::filesystem::directory_options::skip_permission_denied, error);
         !error && item != std::filesystem::recursive_directory_iterator(); item.increment(error)) {
        if (item->path().filename().string().starts_with(PartialPrefix)) {
            partial.push_back(item->path());
        }
    }
    for (const std::filesystem::path& path : partial) {
        std::filesystem::remove(path, error);
    }
}

void recordStamps(FileIndex& index, const DestinationFolder& build) {
    FolderChain chain(build);
    for (IndexEntry& entry : index.entries) {
        const auto item = entry.kind == IndexKind::File ? lookAt(chain, entry.path) : std::nullopt;
        entry.stamp =
            item && item->kind == IndexKind::File ? std::optional(item->modified) : std::nullopt;
    }
}

} // namespace Core::Unpack
