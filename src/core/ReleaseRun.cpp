#include "core/ReleaseRun.h"

#include "core/ReleaseFetch.h"
#include "core/install/BundleName.h"
#include "core/install/InstallLock.h"
#include "core/install/InstallStore.h"
#include "core/transfer/Fetch.h"
#include "core/unpack/Extract.h"
#include "platform/FileSystem.h"

#include <system_error>

namespace fs = std::filesystem;

namespace Core {

namespace {

// Ends a run whose stop was requested after its download had finished.
struct Stopped {};

Error noArchive(const char* missing) {
    return Error::am(AmCode::NoArchiveAddress, std::string("manifest has no ") + missing);
}

std::int64_t sizeOrZero(const fs::path& file) {
    try {
        return FileSystem::size(file);
    } catch (const Error&) {
        return 0;
    }
}

} // namespace

struct ReleaseRun::State {
    RunObserver& observer;
    std::optional<Manifest> manifest;
    std::optional<Install::InstallLock> lock;
};

ReleaseRun::ReleaseRun(Install::InstallLayout layout, ReleaseEndpoints endpoints, RunPolicy policy,
                       Transfer::TransferOptions options, Trust::ReleaseKeys keys)
    : layout_(std::move(layout)), endpoints_(std::move(endpoints)), policy_(std::move(policy)),
      options_(std::move(options)), keys_(std::move(keys)) {
    options_.stop = policy_.stop;
}

RunResult ReleaseRun::run(RunObserver& observer) const {
    State state{observer, {}, {}};
    RunResult result;
    try {
        result.outcome = runSteps(state);
    } catch (...) {
        result.outcome = RunOutcome::Failed;
        if (policy_.stop.stop_requested()) {
            result.outcome = RunOutcome::Stopped;
        } else {
            result.error = currentError();
        }
    }
    state.lock.reset();
    result.manifest = std::move(state.manifest);
    try {
        result.installedVersion = Install::installedVersion(layout_);
        observer.finished(result);
    } catch (...) {
        // Out of memory while showing the end: there is nothing left to show it with.
    }
    return result;
}

RunOutcome ReleaseRun::runSteps(State& state) const {
    state.observer.checking();
    const Manifest& manifest = state.manifest.emplace(acceptedManifest(state));
    state.observer.manifestAccepted(manifest);
    state.observer.changelogRead(changelog());

    if (FileSystem::exists(layout_.root) || !policy_.stopWhenCurrent) {
        lockAndRecover(state);
    }
    if (policy_.stopWhenCurrent) {
        // Read after recovery, so the version names the build that is really there.
        if (Install::installedVersion(layout_) == manifest.version &&
            Install::isInstalled(layout_, manifest)) {
            return RunOutcome::Current;
        }
        if (!hasArchiveAddress(manifest)) {
            throw noArchive("macurl");
        }
        if (!state.lock) {
            lockAndRecover(state);
        }
    }
    download(state, manifest);
    install(state, manifest);
    return RunOutcome::Installed;
}

Manifest ReleaseRun::acceptedManifest(State& state) const {
    Manifest manifest = fetchRelease(endpoints_.manifestURL, options_, keys_);
    state.observer.manifestRead(manifest);
    if (!policy_.stopWhenCurrent && (manifest.version.empty() || !hasArchiveAddress(manifest))) {
        throw noArchive("version/url");
    }
    // Refused before anything follows it: the install, the up-to-date test and PLAY all take
    // the bundle's name from here.
    Install::requireSafeBundleName(manifest);
    return manifest;
}

std::vector<ChangelogEntry> ReleaseRun::changelog() const {
    try {
        return parseChangelog(Transfer::fetch(endpoints_.changelogURL, options_));
    } catch (const Error&) {
        if (policy_.requireChangelog) {
            throw;
        }
        // A missing changelog is no reason to hold back the build; the window says it is missing.
        return {};
    }
}

void ReleaseRun::lockAndRecover(State& state) const {
    state.lock.emplace(layout_);
    // Under the lock: the leftovers could be another launcher's update in progress.
    Install::recoverInterruptedUpdate(layout_);
}

void ReleaseRun::download(State& state, const Manifest& manifest) const {
    state.observer.downloadStarted(manifest.version, manifest.size);
    Transfer::TransferOptions options = options_;
    options.onRetry = [&state](int attempt, int attempts) {
        state.observer.retrying(attempt, attempts);
    };
    downloadRelease(
        manifest, layout_.archivePath(),
        [&state](double fraction) { state.observer.downloadProgress(fraction); }, options);
    if (policy_.stop.stop_requested()) {
        throw Stopped{};
    }
    // The download has already refused a body that does not match the checksum.
    state.observer.downloaded(sizeOrZero(layout_.archivePath()), !manifest.sha256.empty());
}

void ReleaseRun::install(State& state, const Manifest& manifest) const {
    state.observer.installing(manifest.version);
    const Install::StagedBuild staged = Install::stageBuild(layout_, manifest);
    state.observer.staged(staged);
    if (!staged.hasBundle) {
        Install::discardStagedBuild(layout_);
        throw Error::am(AmCode::MissingBundle,
                        "download did not contain " +
                            layout_.gameAppPath(manifest).filename().string());
    }
    Install::commitStagedBuild(layout_, manifest);
    state.observer.committed(Install::installedVersion(layout_));
    if (policy_.reExtract) {
        Unpack::extract(layout_.archivePath(), layout_.buildDir());
        state.observer.reExtracted();
    }
    std::error_code ignored;
    fs::remove(layout_.archivePath(), ignored);
}

} // namespace Core
