#include "cli/SelfCheck.h"

#include "cli/Report.h"
#include "core/ReleaseFetch.h"
#include "core/install/BundleName.h"
#include "core/install/InstallLock.h"
#include "core/install/InstallStore.h"
#include "core/install/StagedInstall.h"
#include "core/transfer/Address.h"
#include "core/transfer/Fetch.h"
#include "core/unpack/Extract.h"
#include "formats/Changelog.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <cstdlib>
#include <iostream>

namespace CLI {

namespace {

// Thrown for the report's bare failure lines, which carry no error description.
struct PlainFailure {
    const char* line;
};

Manifest checkedManifest(const ReleaseEndpoints& endpoints, Report& report,
                         const Core::Transfer::TransferOptions& options,
                         const Core::Trust::ReleaseKeys& keys) {
    const Manifest manifest = Core::fetchRelease(endpoints.manifestURL, options, keys);
    report.manifest(manifest);
    if (manifest.version.empty() || !Core::Transfer::isValidAddress(manifest.url)) {
        throw PlainFailure{"FAIL: manifest has no version/url"};
    }
    Core::Install::requireSafeBundleName(manifest);
    report.line("url", manifest.url);
    return manifest;
}

void summariseChangelog(const ReleaseEndpoints& endpoints, Report& report,
                        const Core::Transfer::TransferOptions& options) {
    const auto entries = parseChangelog(Core::Transfer::fetch(endpoints.changelogURL, options));
    report.changelog(entries);
}

std::int64_t sizeOrZero(const std::filesystem::path& file) {
    try {
        return FileSystem::size(file);
    } catch (const Error&) {
        return 0;
    }
}

void download(const Manifest& manifest, const std::filesystem::path& archive, Report& report,
              const Core::Transfer::TransferOptions& options) {
    ProgressLines progress(report);
    Core::downloadRelease(
        manifest, archive, [&progress](double fraction) { progress.show(fraction); }, options);
    report.line("downloaded", std::to_string(sizeOrZero(archive)) + " bytes");
    // The download has already refused a body that does not match.
    if (!manifest.sha256.empty()) {
        report.line("sha256", "ok");
    }
}

void install(const Core::Install::InstallLayout& layout, const Manifest& manifest, Report& report) {
    const Core::Install::StagedBuild staged = Core::Install::stageBuild(layout, manifest);
    report.flag("app exists", staged.hasBundle);
    report.flag("binary exists", staged.hasExecutable);
    if (!staged.hasBundle) {
        Core::Install::discardStagedBuild(layout);
        throw PlainFailure{"FAIL"};
    }
    Core::Install::commitStagedBuild(layout, manifest);
    report.line("installed", Core::Install::installedVersion(layout));

    // Unpacking over the installed tree must work too: the next update relies on it.
    Core::Unpack::extract(layout.archivePath(), layout.buildDir());
    report.line("re-extract", "ok");
}

void runChain(const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
              Report& report, const Core::Transfer::TransferOptions& options,
              const Core::Trust::ReleaseKeys& keys) {
    report.line("install root", layout.root.string());
    const Manifest manifest = checkedManifest(endpoints, report, options, keys);
    summariseChangelog(endpoints, report, options);

    // Taken with the first write (it creates the install root) and held to the end of the run,
    // re-extraction included; recovery needs it too, as the leftovers could be another
    // launcher's update in progress.
    const Core::Install::InstallLock lock(layout);
    Core::Install::recoverInterruptedUpdate(layout);
    const std::filesystem::path archive = layout.archivePath();
    download(manifest, archive, report, options);
    install(layout, manifest, report);

    std::error_code ignored;
    std::filesystem::remove(archive, ignored);
}

} // namespace

int runSelfCheck(const Core::Install::InstallLayout& layout, const ReleaseEndpoints& endpoints,
                 std::ostream& out, const Core::Transfer::TransferOptions& options,
                 const Core::Trust::ReleaseKeys& keys) {
    Report report(out);
    try {
        runChain(layout, endpoints, report, options, keys);
    } catch (const PlainFailure& failure) {
        report.raw(failure.line);
        return 1;
    } catch (const Error& error) {
        report.raw("FAIL: " + error.fullDescription());
        return 1;
    }
    report.raw("PASS");
    return 0;
}

void run() {
    const int status = runSelfCheck(Core::Install::InstallLayout{Core::Install::installRoot()},
                                    releaseEndpoints(), std::cout);
    std::cout.flush();
    std::exit(status);
}

} // namespace CLI
