#include "cli/SelfCheck.h"

#include "cli/Report.h"
#include "core/ReleaseRun.h"

#include <iostream>

namespace CLI {

namespace {

// Turns the run into the report's lines, the last one PASS or a FAIL line.
class ReportedRun final : public Core::RunObserver {
public:
    explicit ReportedRun(Report& report) : report_(report), progress_(report) {}

    int status() const { return status_; }

    void manifestRead(const Manifest& manifest) override { report_.manifest(manifest); }
    void manifestAccepted(const Manifest& manifest) override { report_.line("url", manifest.url); }
    void changelogRead(const std::vector<ChangelogEntry>& entries) override {
        report_.changelog(entries);
    }
    void downloadProgress(double fraction) override { progress_.show(fraction); }
    void downloaded(std::int64_t bytes, bool checksumMatched) override {
        report_.line("downloaded", std::to_string(bytes) + " bytes");
        if (checksumMatched) {
            report_.line("sha256", "ok");
        }
    }
    void staged(const Core::Install::StagedBuild& staged) override {
        report_.flag("app exists", staged.hasBundle);
        report_.flag("binary exists", staged.hasExecutable);
    }
    void committed(const std::string& installedVersion) override {
        report_.line("installed", installedVersion);
    }
    void reExtracted() override { report_.line("re-extract", "ok"); }

    void finished(const Core::RunResult& result) override {
        const std::optional<Error>& error = result.error;
        if (result.outcome == Core::RunOutcome::Installed) {
            report_.raw("PASS");
            status_ = 0;
        } else if (error && error->is(AmCode::NoArchiveAddress)) {
            report_.raw("FAIL: manifest has no version/url");
        } else if (!error || error->is(AmCode::MissingBundle)) {
            // The "app exists" line above says what is missing.
            report_.raw("FAIL");
        } else {
            report_.raw("FAIL: " + error->fullDescription());
        }
    }

private:
    Report& report_;
    ProgressLines progress_;
    int status_ = 1;
};

} // namespace

int runSelfCheck(const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
                 std::ostream& out, const Core::Transfer::TransferOptions& options,
                 const Core::Trust::ReleaseKeys& keys) {
    Report report(out);
    report.line("install root", layout.root.string());
    ReportedRun reported(report);
    Core::RunPolicy policy;
    policy.reExtract = true;
    policy.requireChangelog = true;
    Core::ReleaseRun(layout, endpoints, policy, options, keys).run(reported);
    return reported.status();
}

int run() {
    return runSelfCheck(Core::Install::InstallLayout{Core::Install::installRoot()},
                        releaseEndpoints(), std::cout);
}

} // namespace CLI
