#include "core/transfer/PartialDownload.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Core::Transfer {

namespace {

bool isFolder(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

std::string recordText(const PartialRecord& record) {
    return "address=" + record.address + "\nvalidator=" + record.validator +
           "\nlength=" + std::to_string(record.length) + "\n";
}

// The record beside the file; an absent or unreadable one names nothing, which is never
// continued.
PartialRecord readRecord(const fs::path& file) {
    PartialRecord record;
    std::string text;
    try {
        text = FileSystem::readText(file);
    } catch (const Error&) {
        return record;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "address") {
            record.address = value;
        } else if (key == "validator") {
            record.validator = value;
        } else if (key == "length") {
            std::from_chars(value.data(), value.data() + value.size(), record.length);
        }
    }
    return record;
}

std::int64_t fileSize(int fd, const fs::path& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw Error::posix(errno, "read", path);
    }
    return info.st_size;
}

// The name belongs to the download: whatever else stands there (a folder, a link, a file
// left unwritable) is cleared once rather than failing every later download. A missing folder
// still fails.
UniqueFd openPartFile(const fs::path& path) {
    constexpr int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    UniqueFd fd(::open(path.c_str(), flags, 0644));
    if (!fd && errno != ENOENT) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
        fd.reset(::open(path.c_str(), flags, 0644));
    }
    if (!fd) {
        throw Error::posix(errno, "open", path);
    }
    return fd;
}

} // namespace

std::uint64_t partialBytes(const fs::path& destination) {
    struct stat info {};
    const fs::path path = destination.string() + ".part";
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::string resumeValidator(const ResponseHead& head) {
    // A weak ETag only says two bodies mean the same, not that their bytes match; servers
    // ignore it in If-Range.
    if (!head.etag.empty() && !head.etag.starts_with("W/")) {
        return head.etag;
    }
    return head.lastModified;
}

PartialDownload::PartialDownload(fs::path destination, std::string address)
    : destination_(std::move(destination)), path_(destination_.string() + ".part"),
      recordPath_(destination_.string() + ".part.meta") {
    fd_ = openPartFile(path_);
    record_ = readRecord(recordPath_);
    size_ = fileSize(fd_.get(), path_);
    const bool sameBody = record_.address == address && !record_.validator.empty() &&
                          (record_.length == 0 || size_ <= record_.length);
    if (!sameBody) {
        record_ = {address, {}, 0};
        truncate();
    }
    if (::lseek(fd_.get(), 0, SEEK_END) < 0) {
        throw Error::posix(errno, "open", path_);
    }
}

PartialDownload::~PartialDownload() {
    if (!settled_ && !resumeRequest()) {
        fd_.reset();
        removeQuietly(path_);
        removeQuietly(recordPath_);
    }
}

std::optional<ResumeRequest> PartialDownload::resumeRequest() const {
    if (size_ == 0 || record_.validator.empty()) {
        return std::nullopt;
    }
    return ResumeRequest{size_, record_.validator};
}

void PartialDownload::restart(PartialRecord record) {
    truncate();
    record_ = std::move(record);
    writeRecord();
}

void PartialDownload::forget() {
    restart({record_.address, {}, 0});
}

void PartialDownload::append(std::string_view bytes) {
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

void PartialDownload::readHeldBytes(const std::function<void(std::string_view)>& reader) const {
    std::array<char, 256 * 1024> buffer{};
    for (std::int64_t offset = 0; offset < size_;) {
        const ssize_t got = ::pread(fd_.get(), buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw Error::posix(errno, "read", path_);
        }
        if (got == 0) {
            throw Error::posix(EIO, "read", path_); // shrank under us
        }
        reader({buffer.data(), static_cast<std::size_t>(got)});
        offset += got;
    }
}

void PartialDownload::commit() {
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
    settled_ = true;
    // A record left behind names a file that is gone, which is never continued.
    removeQuietly(recordPath_);
}

void PartialDownload::discard() {
    fd_.reset();
    removeQuietly(path_);
    removeQuietly(recordPath_);
    settled_ = true;
}

void PartialDownload::truncate() {
    // A new file rather than ftruncate(2): ext4 treats a file truncated to nothing as one being
    // rewritten in place and pushes all of it to disk when it is closed, which would stall the
    // end of every download by a second per few hundred megabytes.
    if (fileSize(fd_.get(), path_) != 0) {
        fd_.reset();
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
            throw Error::posix(errno, "write", path_);
        }
        fd_ = openPartFile(path_);
    }
    if (::lseek(fd_.get(), 0, SEEK_SET) < 0) {
        throw Error::posix(errno, "write", path_);
    }
    size_ = 0;
}

void PartialDownload::writeRecord() {
    FileSystem::writeTextAtomically(recordPath_, recordText(record_));
}

} // namespace Core::Transfer
