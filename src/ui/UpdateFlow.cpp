#include "ui/UpdateFlow.h"

#include "core/ReleaseRun.h"

#include <cstdio>
#include <utility>

namespace {

// The run as the window shows it: status texts, the progress bar, the PLAY button and the
// version line, each queued through the view.
class WindowRun final : public Core::RunObserver {
public:
    explicit WindowRun(UpdateFlowView& view) : view_(view) {}

    void checking() override { view_.setStatus("Checking for updates…"); }
    void manifestAccepted(const Manifest& manifest) override { view_.storeManifest(manifest); }
    void changelogRead(const std::vector<ChangelogEntry>& entries) override {
        view_.showReleaseText(entries);
    }
    void downloadStarted(const std::string& version, std::int64_t size) override {
        view_.showPlayButton("DOWNLOADING…", false);
        downloadingText_ = downloadingStatus(version, size);
        view_.setStatus(downloadingText_);
    }
    // The notice stays until bytes flow again.
    void retrying(int attempt, int attempts) override {
        view_.setStatus("Connection lost — retrying (" + std::to_string(attempt) + " of " +
                        std::to_string(attempts) + ")…");
        retrying_ = true;
    }
    void downloadProgress(double fraction) override {
        if (std::exchange(retrying_, false)) {
            view_.setStatus(downloadingText_);
        }
        view_.setProgress(fraction);
    }
    void installing(const std::string& version) override {
        view_.setStatus("Installing v" + version + "…");
        view_.setProgress(1.0);
    }

    void finished(const Core::RunResult& result) override {
        switch (result.outcome) {
        case Core::RunOutcome::Current:
            view_.setProgress(1.0);
            view_.setStatus("Ready to deploy.");
            view_.showPlayable("PLAY", "UP TO DATE");
            break;
        case Core::RunOutcome::Installed:
            view_.setStatus("Ready to deploy.");
            view_.showPlayable("PLAY  v" + result.manifest->version, "UPDATED");
            break;
        case Core::RunOutcome::Failed:
            showFailure(result.installedVersion, result.error->localizedMessage());
            break;
        case Core::RunOutcome::Stopped:
            // The window is going: nothing more to show.
            break;
        }
    }

private:
    void showFailure(const std::string& installed, const std::string& reason) {
        if (installed.empty()) {
            view_.setStatus("Could not fetch the build.\n" + reason);
            view_.showVersionState("ERROR");
            return;
        }
        // PLAY and the version line go on with the installed version, its bundle by the default
        // name.
        Manifest fallback;
        fallback.version = installed;
        fallback.exe = "Ashenmarch.app";
        view_.storeManifest(fallback);
        view_.setProgress(1.0);
        view_.setStatus("Update check failed — playing installed v" + installed + ".");
        view_.showPlayable("PLAY  v" + installed, "OFFLINE");
    }

    UpdateFlowView& view_;
    std::string downloadingText_;
    bool retrying_ = false;
};

} // namespace

void runUpdateFlow(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                   const ReleaseEndpoints& endpoints,
                   const Core::Transfer::TransferOptions& options, std::stop_token stop,
                   const Core::Trust::ReleaseKeys& keys) {
    Core::RunPolicy policy;
    policy.stopWhenCurrent = true;
    policy.stop = std::move(stop);
    WindowRun shown(view);
    Core::ReleaseRun(layout, endpoints, policy, options, keys).run(shown);
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
