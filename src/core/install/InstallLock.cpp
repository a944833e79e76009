#include "core/install/InstallLock.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace Core::Install {

InstallLock::InstallLock(const InstallLayout& layout) {
    FileSystem::createFolder(layout.root);
    const std::filesystem::path lockPath = layout.lockPath();
    lockFile_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lockFile_) {
        throw Error::posix(errno, "open", lockPath);
    }
    int status = 0;
    do {
        status = ::flock(lockFile_.get(), LOCK_EX | LOCK_NB);
    } while (status != 0 && errno == EINTR);
    if (status != 0 && errno == EWOULDBLOCK) {
        throw Error::am(AmCode::InstallLocked, "another launcher is updating this install");
    }
    if (status != 0) {
        throw Error::posix(errno, "lock", lockPath);
    }
}

} // namespace Core::Install
