#include "core/ReleaseRun.h"

#include "core/PatchUpdate.h"
#include "core/ReleaseFetch.h"
#include "core/install/BundleName.h"
#include "core/install/DiskSpace.h"
#include "core/install/InstallLock.h"
#include "core/install/InstallStore.h"
#include "core/transfer/Fetch.h"
#include "core/transfer/FileDownloader.h"
#include "core/transfer/TransferAddress.h"
#include "core/unpack/Extract.h"
#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"

#include <system_error>

namespace fs = std::filesystem;

namespace Core {

namespace {

// Whether the manifest's url parses as an address. Whether a transfer may use it (its scheme,
// https) is the download's to say ("am" 7).
bool hasArchiveAddress(const Manifest& manifest) {
    try {
        Transfer::parseTransferAddress(manifest.url, true);
    } catch (const Error& error) {
        return !error.is(AmCode::BadAddress);
    }
    return true;
}

// The steps of one run, and what they hand on to each other.
class Steps {
public:
    Steps(const ReleaseRun& run, RunObserver& observer, std::optional<Manifest>& manifest)
        : manifest(manifest), layout_(run.layout), run_(run), options_(run.options),
          observer_(observer) {
        options_.stop = run_.policy.stop;
        options_.onRetry = [this](int attempt, int attempts) {
            observer_.retrying(attempt, attempts);
        };
    }

    std::optional<Manifest>& manifest; // the result's: kept when a later step fails
    std::optional<Install::InstallLock> lock;

    RunOutcome run() {
        observer_.checking();
        const Manifest& accepted = manifest.emplace(acceptedManifest());
        observer_.manifestAccepted(accepted);
        observer_.changelogRead(changelog());

        // Reading needs no lock, so a root the player may not write (a shared install, a
        // read-only volume) can still be found current. Settling leftovers writes: it does.
        if (Install::hasInterruptedUpdate(layout_)) {
            lockAndRecover();
        }
        if (run_.policy.stopWhenCurrent) {
            // Read after recovery, so the version names the build that is really there.
            if (Install::installedVersion(layout_) == accepted.version &&
                Install::isInstalled(layout_, accepted)) {
                rememberRelease(accepted);
                return RunOutcome::Current;
            }
            if (!hasArchiveAddress(accepted)) {
                throw Error::am(AmCode::NoArchiveAddress, "manifest has no macurl");
            }
        }
        if (!lock) {
            lockAndRecover();
        }
        // Kept with the build whichever way it comes; a patch is planned from it.
        const std::optional<FileIndex> index = fetchIndex(accepted, options_);
        std::string fallback;
        const bool patched = run_.policy.patch && FileSystem::exists(layout_.buildDir()) &&
                             patch(accepted, index, fallback);
        if (!patched) {
            download(accepted, fallback);
        }
        if (run_.policy.stop.stop_requested()) {
            return RunOutcome::Stopped; // the download had finished when the stop came
        }
        install(accepted, index, patched);
        return RunOutcome::Installed;
    }

private:
    Manifest acceptedManifest() {
        Manifest fetched = fetchRelease(run_.endpoints.manifestURL, options_, run_.keys);
        observer_.manifestRead(fetched);
        if (!run_.policy.stopWhenCurrent &&
            (fetched.version.empty() || !hasArchiveAddress(fetched))) {
            throw Error::am(AmCode::NoArchiveAddress, "manifest has no version/url");
        }
        // Refused before anything follows it: the install, the up-to-date test and PLAY all
        // take the bundle's name from here.
        Install::requireSafeBundleName(fetched);
        // A signature says who published a release, not that it is the latest: whoever holds
        // the host could serve an older signed pair again and put players back on its build.
        if (run_.keys.required() &&
            isOlderRelease(fetched.released, Install::newestAcceptedRelease(layout_))) {
            throw Error::am(AmCode::OlderRelease, "release is older than one already accepted");
        }
        return fetched;
    }

    // Remembers when the signed release just found current or installed was published. Best
    // effort, like the marker; a root the player may not write keeps the record it has.
    void rememberRelease(const Manifest& accepted) {
        if (!run_.keys.required() || !accepted.released ||
            Install::newestAcceptedRelease(layout_) >= accepted.released) {
            return;
        }
        try {
            if (!lock) {
                lock.emplace(layout_);
            }
            Install::recordAcceptedRelease(layout_, *accepted.released);
        } catch (const Error&) {
            // Held by another launcher, which records its own, or not ours to write.
        }
    }

    Changelog changelog() {
        try {
            return parseChangelog(Transfer::fetch(run_.endpoints.changelogURL, options_));
        } catch (const Error&) {
            if (run_.policy.requireChangelog) {
                throw;
            }
            // A missing changelog is no reason to hold back the build; the window says so.
            return {};
        }
    }

    void lockAndRecover() {
        lock.emplace(layout_);
        // Under the lock: the leftovers could be another launcher's update in progress.
        Install::recoverInterruptedUpdate(layout_);
    }

    // Stages the release by patch; false, with the reason in `fallback`, when the whole archive
    // is needed after all. Failures of the patch itself (a span that is not what the index
    // says, a refused range) are errors: a fallback would hide them.
    bool patch(const Manifest& release, const std::optional<FileIndex>& index,
               std::string& fallback) {
        if (!index) {
            fallback = release.indexUrl.empty() ? "the release has no file index"
                                                : "the release's file index cannot be used";
            return false;
        }
        PatchInstall patch(layout_, release, *index, run_.policy.hashInstalled);
        if (auto reason = patch.plan(run_.policy.stop)) {
            fallback = std::move(*reason);
            return false;
        }
        Download planned{Download::Kind::Patch,
                         patch.plannedBytes(),
                         patch.fetchedFiles(),
                         patch.buildFiles(),
                         {}};
        observer_.downloadStarted(release.version, planned);
        if (!patch.fetch(options_, [this](std::int64_t done, std::int64_t total) {
                observer_.downloadProgress(done, total);
            })) {
            fallback = "the host does not serve parts of files";
            return false;
        }
        planned.bytes = patch.receivedBytes();
        observer_.downloaded(planned, false);
        observer_.installing(release.version);
        patch.finish();
        return true;
    }

    void download(const Manifest& release, const std::string& fallback) {
        observer_.downloadStarted(release.version,
                                  {Download::Kind::Full, release.size, 0, 0, fallback});
        // The body is checked against macsha256 (and a signed macsize) while it is written.
        downloadRelease(
            release, layout_.archivePath(),
            [this](std::int64_t done, std::int64_t total) {
                observer_.downloadProgress(done, total);
            },
            options_, run_.keys);
        // The download has already refused a body that does not match the checksum.
        std::error_code unreadable;
        const auto bytes =
            static_cast<std::int64_t>(fs::file_size(layout_.archivePath(), unreadable));
        observer_.downloaded({Download::Kind::Full, unreadable ? 0 : bytes, 0, 0, fallback},
                             !release.sha256.empty());
    }

    void install(const Manifest& release, const std::optional<FileIndex>& index, bool patched) {
        if (!patched) {
            observer_.installing(release.version);
        }
        const Install::StagedBuild staged = patched ? Install::inspectStagedBuild(layout_, release)
                                                    : Install::stageBuild(layout_, release);
        observer_.staged(staged);
        const fs::path bundle = layout_.gameAppPath(release).filename();
        if (!staged.hasBundle) {
            Install::discardStagedBuild(layout_);
            throw Error::am(AmCode::MissingBundle, "download did not contain " + bundle.string());
        }
        // A bundle that is a plain file or an empty folder would take the player's game away.
        if (run_.policy.requireExecutable && !staged.hasExecutable &&
            Install::hasPlayableBuild(layout_)) {
            Install::discardStagedBuild(layout_);
            throw Error::am(AmCode::MissingBundle, "download did not contain " +
                                                       bundleExecutable(bundle).generic_string());
        }
        std::error_code ignored;
        if (!run_.policy.reExtract) {
            // Done with. Removed before the commit's sync, which would otherwise write its pages
            // to the disk only for them to be deleted: often nearly as many bytes as the build.
            fs::remove(layout_.archivePath(), ignored);
        }
        if (index) {
            Install::keepIndex(layout_, *index);
        }
        Install::commitStagedBuild(layout_, release);
        observer_.committed(Install::installedVersion(layout_));
        rememberRelease(release);
        if (run_.policy.reExtract) {
            Unpack::extract(layout_.archivePath(), layout_.buildDir());
            // Its files replaced the synced ones by renames, which a power cut may keep
            // without their bytes.
            FileSystem::syncTree(layout_.buildDir());
            observer_.reExtracted();
            fs::remove(layout_.archivePath(), ignored);
        }
    }

    const Install::InstallLayout& layout_;
    const ReleaseRun& run_;
    // The run's, with the policy's stop token and the observer's retry notice.
    Transfer::TransferOptions options_;
    RunObserver& observer_;
};

} // namespace

RunResult ReleaseRun::run(RunObserver& observer) const {
    RunResult result;
    try {
        result.outcome = Steps(*this, observer, result.manifest).run();
    } catch (...) {
        if (policy.stop.stop_requested()) {
            result.outcome = RunOutcome::Stopped;
        } else {
            result.error = currentError();
        }
    }
    try {
        result.installedVersion = Install::installedVersion(layout);
        observer.finished(result);
    } catch (...) {
        // Out of memory while showing the end: there is nothing left to show it with.
    }
    return result;
}

} // namespace Core
