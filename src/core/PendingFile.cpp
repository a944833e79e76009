#include "core/PendingFile.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

bool isFolder(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

PendingFile::PendingFile(std::filesystem::path destination) : destination_(std::move(destination)) {
    const std::filesystem::path folder = folderOf(destination_);
    std::string pattern = (folder / ("." + destination_.filename().string() + ".XXXXXX")).string();
    fd_.reset(::mkstemp(pattern.data()));
    if (!fd_) {
        throw Error::posix(errno, "create a file in", folder);
    }
    path_ = std::move(pattern);
    // mkstemp makes the file private; the finished download is an ordinary file.
    ::fchmod(fd_.get(), 0644);
}

PendingFile::~PendingFile() {
    if (!committed_) {
        fd_.reset();
        ::unlink(path_.c_str());
    }
}

void PendingFile::append(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            throw Error::posix(errno, "write", path_);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        size_ += written;
    }
}

void PendingFile::commit() {
    // close() reports write-back failures on some file systems; a file that may be incomplete
    // must not be moved into place.
    if (::close(fd_.release()) != 0) {
        throw Error::posix(errno, "write", path_);
    }
    if (isFolder(destination_)) {
        FileSystem::remove(destination_);
    }
    // rename(2) replaces a file at the destination in one step: a reader sees the old or the
    // new file, never none.
    if (::rename(path_.c_str(), destination_.c_str()) != 0) {
        throw Error::posix(errno, "move to", destination_);
    }
    committed_ = true;
}
