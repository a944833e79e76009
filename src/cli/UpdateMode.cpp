#include "cli/UpdateMode.h"

#include "cli/Report.h"
#include "core/ReleaseRun.h"
#include "core/install/InstallStore.h"

#include <iostream>
#include <optional>
#include <string>
#include <utility>

namespace CLI {

namespace {

class UpdateReport final : public Core::RunObserver {
public:
    // `repairVersion`: the version a repair finds installed.
    UpdateReport(std::ostream& out, std::optional<std::string> repairVersion)
        : out_(out), steps_(out), repairVersion_(std::move(repairVersion)) {}

    int status() const { return status_; }

    void manifestAccepted(const Manifest& manifest) override {
        // A repair of another version than the release's is an update, and says so.
        repairing_ = repairVersion_ == manifest.version;
    }

    void downloadProgress(std::int64_t done, std::int64_t total) override {
        steps_.progress(done, total);
    }

    void downloaded(const Core::Download& fetched, bool) override {
        const std::string bytes = std::to_string(fetched.bytes) + " bytes";
        if (fetched.kind == Core::Download::Kind::Patch) {
            printLine(out_, "transfer",
                      "patch, " + std::to_string(fetched.files) + " of " +
                          std::to_string(fetched.buildFiles) + " files, " + bytes);
        } else {
            printLine(
                out_, "transfer",
                "full, " + bytes +
                    (fetched.fallbackReason.empty() ? "" : " (" + fetched.fallbackReason + ")"));
        }
    }

    void finished(const Core::RunResult& result) override {
        switch (result.outcome) {
        case Core::RunOutcome::Current:
            end("UP TO DATE " + result.installedVersion, 0);
            return;
        case Core::RunOutcome::Installed:
            end((repairing_ ? "REPAIRED " : "UPDATED ") + result.installedVersion, 0);
            return;
        case Core::RunOutcome::Failed:
        case Core::RunOutcome::Stopped:
            break;
        }
        const std::string reason = result.error ? result.error->fullDescription() : "stopped";
        end((result.installedVersion.empty() ? "ERROR: " : "OFFLINE: ") + reason, 1);
    }

private:
    void end(const std::string& line, int status) {
        out_ << line << '\n';
        status_ = status;
    }

    std::ostream& out_;
    DownloadSteps steps_;
    std::optional<std::string> repairVersion_;
    bool repairing_ = false; // the run repairs the installed version rather than update it
    int status_ = 1;
};

} // namespace

int runUpdate(const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
              std::ostream& out, UpdateKind kind, const Core::Transfer::TransferOptions& options,
              const Core::Trust::ReleaseKeys& keys) {
    printLine(out, "install root", layout.root.string());
    Core::RunPolicy policy;
    policy.patch = true;
    policy.requireExecutable = true;
    policy.stopWhenCurrent = kind == UpdateKind::Update;
    policy.hashInstalled = kind == UpdateKind::Repair;
    UpdateReport report(out, kind == UpdateKind::Repair
                                 ? std::optional(Core::Install::installedVersion(layout))
                                 : std::nullopt);
    Core::ReleaseRun{layout, endpoints, policy, options, keys}.run(report);
    return report.status();
}

int runUpdateMode(UpdateKind kind) {
    return runUpdate(Core::Install::InstallLayout{Core::Install::installRoot()}, releaseEndpoints(),
                     std::cout, kind);
}

} // namespace CLI
