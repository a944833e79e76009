#pragma once

#include "core/install/InstallLayout.h"
#include "core/transfer/Transfer.h"
#include "core/trust/ReleaseSignature.h"
#include "platform/ReleaseHost.h"

#include <ostream>

// --update and --repair: the window's update run without a window, for players on machines
// without a display and for scripts. The lines, each as the self-check prints its own:
//
//   install root : <root>
//      download <n>%                                  (as the self-check's)
//   transfer     : patch, <k> of <n> files, <bytes> bytes
//   transfer     : full, <bytes> bytes                 (+ " (<why no patch>)" after a fallback)
//
// then one last line: "UP TO DATE <version>", "UPDATED <version>", "REPAIRED <version>" (a
// repair of the version installed), "OFFLINE: <error>" (the installed build stays playable) or
// "ERROR: <error>" (nothing is installed), the error as the self-check prints it. Never
// re-extracts.
namespace CLI {

enum class UpdateKind {
    Update, // stops when the installed build is current; trusts the installed index's stamps
    Repair, // hashes the installed build and brings it back to the release, by patch
};

// One run into `layout` against `endpoints`, reported to `out`. Returns the exit status: 0
// after UP TO DATE, UPDATED or REPAIRED, 1 otherwise.
int runUpdate(
    const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
    std::ostream& out, UpdateKind kind,
    const Core::Transfer::TransferOptions& options = Core::Transfer::defaultTransferOptions(),
    const Core::Trust::ReleaseKeys& keys = Core::Trust::ReleaseKeys::fromBuild());

// The --update or --repair mode: runUpdate into the install root, against the build's release
// host, on standard output.
int runUpdateMode(UpdateKind kind);

} // namespace CLI
