#pragma once

#include "core/install/InstallLayout.h"
#include "core/transfer/Transfer.h"
#include "core/trust/ReleaseSignature.h"
#include "platform/ReleaseHost.h"

#include <ostream>

namespace CLI {

// The self-check: one release run into `layout` that always installs and unpacks twice, against
// `endpoints`, reported line by line to `out`; with `keys` required, only a manifest signed by one
// of them is accepted. Returns the exit status: 0 after "PASS", 1 after any "FAIL" line. (The
// build's keys cannot be malformed: the configure step refuses them, so the default never
// throws.)
int runSelfCheck(
    const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
    std::ostream& out,
    const Core::Transfer::TransferOptions& options = Core::Transfer::defaultTransferOptions(),
    const Core::Trust::ReleaseKeys& keys = Core::Trust::ReleaseKeys::fromBuild());

// The --cli mode: runSelfCheck into the install root and against the build's release host, on
// standard output. Returns the exit status.
int run();

} // namespace CLI
