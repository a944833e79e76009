#pragma once

#include "core/Transfer.h"
#include "platform/ReleaseHost.h"

#include <ostream>

namespace CLI {

// Runs the whole release chain against `endpoints` and writes the line report to `out`.
// Returns the exit status: 0 after "PASS", 1 after any "FAIL" line.
int runSelfCheck(const ReleaseEndpoints& endpoints, std::ostream& out,
                 const TransferOptions& options = defaultTransferOptions());

// The --cli mode: runSelfCheck against the build's release host on standard output, then exits
// the process with its status.
[[noreturn]] void run();

} // namespace CLI
