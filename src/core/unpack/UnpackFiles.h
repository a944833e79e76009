#pragma once

#include "core/unpack/DestinationFolder.h"
#include "core/unpack/UnpackPlan.h"

#include <filesystem>
#include <sys/types.h>

namespace Core::Unpack {

// Writes the plan's files into the destination, whose folders must exist. The archive is shared
// out among up to as many threads as the machine has cores (at most four), each inflating
// different entries through its own reader. Each file gets its planned mode minus `umask`
// before it takes its name, and is written through a TreeWriter with `replacing` (what stood
// there is replaced, never written through). Blocks until every file is written or the first
// failure; throws the failure of the earliest entry that failed, after all threads have
// stopped and removed their temporary names.
void writeFiles(const std::filesystem::path& zip, const UnpackPlan& plan,
                const DestinationFolder& destination, mode_t umask, bool replacing);

} // namespace Core::Unpack
