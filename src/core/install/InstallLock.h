#pragma once

#include "core/install/InstallLayout.h"
#include "platform/UniqueFd.h"

namespace Core::Install {

// One updater per install root. Two launchers (or the window and a --cli run) updating the same
// install would unpack over each other and record a version neither finished; the second one
// therefore stops with an error instead.
//
// The lock is an advisory flock(2) on the root's lock file (InstallLayout::lockPath), held from the
// first write of an update until its marker is written. The kernel drops it when the holder's file
// is closed: at destruction, or when the process dies however it dies, so a crash never leaves a
// stale lock. The file itself stays (removing it would let a waiter lock a file nobody else sees).
// The descriptor is close-on-exec, so a started game does not inherit the lock.
//
// Move-only; any thread. A second InstallLock on the same root fails also within one process.
class InstallLock {
public:
    // Creates the install root and the lock file when missing, then takes the lock without
    // waiting. Throws "am" 11 "another launcher is updating this install" when someone holds it;
    // the "posix" error naming the path when the folder or file cannot be made or opened.
    explicit InstallLock(const InstallLayout& layout);

private:
    UniqueFd lockFile_;
};

} // namespace Core::Install
