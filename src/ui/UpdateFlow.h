#pragma once

#include "core/ReleaseRun.h"
#include "ui/DownloadRate.h"

#include <cstdint>
#include <stop_token>
#include <string>
#include <utility>

// The window as an update run sees it: the run's steps and end as status texts, progress, the
// PLAY button and the version line, shown through the seven changes below. Every change but
// storeManifest only queues it for the main thread and returns at once; the changes apply one at
// a time in the order queued. Called from the update worker only, one run at a time.
class UpdateFlowView : public Core::RunObserver {
public:
    virtual void setStatus(std::string text) = 0;
    virtual void setProgress(double fraction) = 0;
    // The changelog pane, then the release notes, as two queued changes.
    virtual void showReleaseText(Changelog entries) = 0;
    // The PLAY button's title and enabled state, as one change.
    virtual void showPlayButton(std::string title, bool enabled) = 0;
    // An end state with a playable build: PLAY's title, PLAY enabled and the version line with
    // the state word, as one change.
    virtual void showPlayable(std::string playTitle, std::string state) = 0;
    // The version line alone, with the state word.
    virtual void showVersionState(std::string state) = 0;
    // Replaces the manifest the window reads, at once and whole (not queued), so that every
    // version line queued afterwards reads it.
    virtual void storeManifest(Manifest manifest) = 0;

    void checking() final { setStatus("Checking for updates…"); }
    void manifestAccepted(const Manifest& manifest) final { storeManifest(manifest); }
    void changelogRead(const Changelog& entries) final { showReleaseText(entries); }
    // "Downloading v1.1  (12 MB)…" with the bytes to fetch (a patch's own size); a second line
    // "full download: <reason>" when a patch could not be had, until the detail line replaces
    // it.
    void downloadStarted(const std::string& version, const Core::Download& planned) final;
    // "Connection lost — retrying (2 of 4)…" until bytes flow again.
    void retrying(int attempt, int attempts) final;
    // The bar, and the detail line (amount, speed, time left) as the status's second line.
    void downloadProgress(std::int64_t done, std::int64_t total) final;
    void installing(const std::string& version) final;
    void finished(const Core::RunResult& result) final;

    // The release host's name in the failure the window shows when nothing is installed;
    // runUpdateFlow sets it from the run's endpoints.
    void setReleaseHost(std::string host) { releaseHost_ = std::move(host); }

private:
    void showFailure(const std::string& installed, const std::string& reason);

    void showDownloading();

    std::string releaseHost_;
    std::string downloadingText_;
    std::string detail_; // the status's second line while downloading
    DownloadRate rate_;
    bool retrying_ = false;
};

// One update run: a release run (Core::ReleaseRun) that stops when the installed build is
// current, patches what it can and never replaces a playable build by one without its
// executable, shown in `view`. Leaves it in one of the end states "UP TO DATE", "UPDATED",
// "OFFLINE" (a build is installed and stays playable) or "ERROR" (nothing is installed); a run
// ended by `stop` (which also aborts a transfer in progress) shows nothing more. Throws nothing.
//
// Blocks the calling thread for the whole run, so never call it on the main thread. The caller
// makes sure that only one run at a time works on the install; against other launchers the run
// holds the install lock, and one that finds it held ends as a failed run.
void runUpdateFlow(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                   const ReleaseEndpoints& endpoints,
                   const Core::Transfer::TransferOptions& options, std::stop_token stop = {},
                   const Core::Trust::ReleaseKeys& keys = Core::Trust::ReleaseKeys::fromBuild());

// "Downloading v1.4.0  (150 MB)…": the size in MiB, rounded to a whole number, only when the
// manifest gives a size above 0.
std::string downloadingStatus(const std::string& version, std::int64_t sizeBytes);
