#include "platform/FileSystem.h"

#include "formats/Text.h"
#include "platform/Error.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace FileSystem {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

fs::path userDataFolder() {
    const fs::path home = environment("HOME").value_or("");
#ifdef __APPLE__
    return home / "Library" / "Application Support";
#else
    if (auto xdg = environment("XDG_DATA_HOME"); xdg && fs::path(*xdg).is_absolute()) {
        return *xdg;
    }
    return home / ".local" / "share";
#endif
}

void createFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        throw Error::posix(error.value(), "create folder", folder);
    }
    // create_directories reports success when a file stands at the path on some library
    // versions; callers rely on getting a folder.
    if (!fs::is_directory(folder, error)) {
        throw Error::posix(ENOTDIR, "create folder", folder);
    }
}

bool exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

void remove(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error))) {
        throw Error::posix(ENOENT, "remove", path);
    }
    fs::remove_all(path, error);
    if (error) {
        throw Error::posix(error.value(), "remove", path);
    }
}

void move(const fs::path& from, const fs::path& to) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(to, error))) {
        throw Error::posix(EEXIST, "move to", to);
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw Error::posix(errno, "move to", to);
    }
}

std::string readText(const fs::path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw Error::posix(errno, "read", file);
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error::posix(errno, "read", file);
        }
        if (count == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    if (!Text::isValidUtf8(text)) {
        throw Error::posix(EILSEQ, "read", file);
    }
    return text;
}

namespace {

void writeAll(int fd, std::string_view bytes, const fs::path& file) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error::posix(errno, "write", file);
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

#ifndef __linux__
void syncItem(const fs::path& item, int flags) {
    // An item its owner may not read (mode 0200, say) cannot be opened to be synced; not worth
    // refusing a build for.
    UniqueFd fd(::open(item.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | flags));
    if (fd && ::fsync(fd.get()) != 0) {
        throw Error::posix(errno, "sync", item);
    }
}
#endif

} // namespace

void syncTree(const fs::path& folder) {
#ifdef __linux__
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::syncfs(fd.get()) != 0) {
        throw Error::posix(errno, "sync", folder);
    }
#else
    std::error_code error;
    for (fs::recursive_directory_iterator item(folder, error), end; !error && item != end;
         item.increment(error)) {
        if (item->is_symlink(error)) {
            continue; // its target is in the tree, or not the build's
        }
        syncItem(item->path(), item->is_directory(error) ? O_DIRECTORY : 0);
    }
    if (error) {
        throw Error::posix(error.value(), "sync", folder);
    }
    syncItem(folder, O_DIRECTORY);
#endif
}

void syncFolder(const fs::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        ::fsync(fd.get());
    }
}

void writeTextAtomically(const fs::path& file, std::string_view text) {
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkstemp(temporary.data()));
    if (!fd) {
        throw Error::posix(errno, "write", file);
    }
    try {
        writeAll(fd.get(), text, file);
        if (::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0) {
            throw Error::posix(errno, "write", file);
        }
        fd.reset();
        if (::rename(temporary.c_str(), file.c_str()) != 0) {
            throw Error::posix(errno, "write", file);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // Makes the rename durable too, so a crash right after cannot bring the old content back.
    syncFolder(folder);
}

} // namespace FileSystem
