#pragma once

#include <sys/types.h>

namespace Core::Unpack {

// The process's file-creation mask, read without changing it where the system allows (Linux
// reports it in /proc). Elsewhere it is read by setting and restoring it under a lock, so
// callers here never race each other, but a thread creating a file at that instant elsewhere
// would get the mask 0: read it once per unpacking, not per file.
mode_t processUmask();

} // namespace Core::Unpack
