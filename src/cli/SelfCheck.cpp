#include "cli/SelfCheck.h"

#include "cli/Report.h"
#include "core/ReleaseRun.h"

#include <iostream>

namespace CLI {

int runSelfCheck(const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
                 std::ostream& out, const Core::Transfer::TransferOptions& options,
                 const Core::Trust::ReleaseKeys& keys) {
    Report report(out);
    report.line("install root", layout.root.string());
    Core::RunPolicy policy;
    policy.reExtract = true;
    policy.requireChangelog = true;
    Core::ReleaseRun{layout, endpoints, policy, options, keys}.run(report);
    return report.status();
}

int run() {
    return runSelfCheck(Core::Install::InstallLayout{Core::Install::installRoot()},
                        releaseEndpoints(), std::cout);
}

} // namespace CLI
