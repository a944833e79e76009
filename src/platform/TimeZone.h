#pragma once

#include <vector>

namespace TimeZone {

// While TZ is unset, glibc reads the system's zone file again on every local-time conversion,
// under a process-wide lock, and unpacking converts the time of every archive entry: for a build
// of tens of thousands of files that is most of a second of file-system calls, with the
// unpacking threads queuing on the lock. When TZ is unset this names the system's zone file in
// it, which means the same zone, read once. Call first in main, before any thread exists.
void pinSystemZone();

// The environment for programs the launcher starts: its own, less what pinSystemZone added, so
// they see the player's environment as it was. Null-terminated; valid while the environment is
// not changed.
std::vector<char*> environmentForChildren();

} // namespace TimeZone
