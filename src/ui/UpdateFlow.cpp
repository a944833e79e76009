#include "ui/UpdateFlow.h"

#include "core/transfer/FailureKind.h"
#include "ui/PlayerMessage.h"

#include <cstdio>
#include <utility>

void UpdateFlowView::downloadStarted(const std::string& version, const Core::Download& planned) {
    showPlayButton("DOWNLOADING…", false);
    downloadingText_ = downloadingStatus(version, planned.bytes);
    detail_ = planned.fallbackReason.empty() ? "" : "full download: " + planned.fallbackReason;
    rate_ = DownloadRate();
    retrying_ = false;
    showDownloading();
}

void UpdateFlowView::showDownloading() {
    setStatus(detail_.empty() ? downloadingText_ : downloadingText_ + "\n" + detail_);
}

void UpdateFlowView::retrying(int attempt, int attempts) {
    setStatus("Connection lost — retrying (" + std::to_string(attempt) + " of " +
              std::to_string(attempts) + ")…");
    retrying_ = true;
}

void UpdateFlowView::downloadProgress(std::int64_t done, std::int64_t total) {
    const auto line = rate_.sample(done, total, DownloadRate::Clock::now());
    // Until the speed is known the line is empty, and what the second line said stays.
    const bool newDetail = line && !line->empty() && *line != detail_;
    if (newDetail) {
        detail_ = *line;
    }
    if (std::exchange(retrying_, false) || newDetail) {
        showDownloading();
    }
    if (total > 0) {
        setProgress(static_cast<double>(done) / static_cast<double>(total));
    }
}

void UpdateFlowView::installing(const std::string& version) {
    setStatus("Installing v" + version + "…");
    setProgress(1.0);
}

void UpdateFlowView::finished(const Core::RunResult& result) {
    switch (result.outcome) {
    case Core::RunOutcome::Current:
        setProgress(1.0);
        setStatus("Ready to deploy.");
        showPlayable("PLAY", "UP TO DATE");
        break;
    case Core::RunOutcome::Installed:
        setStatus("Ready to deploy.");
        showPlayable("PLAY  v" + result.manifest->version, "UPDATED");
        break;
    case Core::RunOutcome::Failed:
        showFailure(result.installedVersion, playerMessage(*result.error, releaseHost_));
        break;
    case Core::RunOutcome::Stopped:
        // The window is going: nothing more to show.
        break;
    }
}

void UpdateFlowView::showFailure(const std::string& installed, const std::string& reason) {
    if (installed.empty()) {
        setStatus("Could not fetch the build.\n" + reason);
        showVersionState("ERROR");
        return;
    }
    // PLAY and the version line go on with the installed version, its bundle by the default name.
    Manifest fallback;
    fallback.version = installed;
    storeManifest(fallback);
    setProgress(1.0);
    setStatus("Update check failed — playing installed v" + installed + ".");
    showPlayable("PLAY  v" + installed, "OFFLINE");
}

void runUpdateFlow(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                   const ReleaseEndpoints& endpoints,
                   const Core::Transfer::TransferOptions& options, std::stop_token stop,
                   const Core::Trust::ReleaseKeys& keys) {
    view.setReleaseHost(Core::Transfer::hostOf(endpoints.manifestURL));
    Core::RunPolicy policy;
    policy.stopWhenCurrent = true;
    policy.patch = true;
    policy.requireExecutable = true;
    policy.stop = std::move(stop);
    Core::ReleaseRun{layout, endpoints, policy, options, keys}.run(view);
}

std::string downloadingStatus(const std::string& version, std::int64_t sizeBytes) {
    const double megabytes = static_cast<double>(sizeBytes) / 1048576.0;
    std::string sizePart;
    if (megabytes > 0) {
        char text[48];
        std::snprintf(text, sizeof text, "  (%.0f MB)", megabytes);
        sizePart = text;
    }
    return "Downloading v" + version + sizePart + "…";
}
