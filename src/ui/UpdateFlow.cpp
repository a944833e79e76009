#include "ui/UpdateFlow.h"

#include "core/ReleaseFetch.h"
#include "core/install/BundleName.h"
#include "core/install/InstallLock.h"
#include "core/install/InstallStore.h"
#include "core/install/StagedInstall.h"
#include "core/transfer/Address.h"
#include "core/transfer/Fetch.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "ui/DownloadFeedback.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Ends a run that was asked to stop: the window is going, so nothing more is shown.
struct Stopped {};

std::vector<ChangelogEntry> changelogOrEmpty(const std::string& address,
                                             const Core::Transfer::TransferOptions& options) {
    try {
        return parseChangelog(Core::Transfer::fetch(address, options));
    } catch (const Error&) {
        // A missing changelog is no reason to hold back the build; the pane says it is missing.
        return {};
    }
}

Manifest fallbackManifest(const std::string& installedVersion) {
    Manifest manifest;
    manifest.version = installedVersion;
    manifest.exe = "Ashenmarch.app";
    return manifest;
}

// Called with the install lock held.
void downloadAndInstall(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                        const Manifest& manifest, const Core::Transfer::TransferOptions& options) {
    const fs::path archive = layout.archivePath();

    view.showPlayButton("DOWNLOADING…", false);
    DownloadFeedback feedback(view, downloadingStatus(manifest.version, manifest.size));
    Core::downloadRelease(
        manifest, archive, [&feedback](double fraction) { feedback.progress(fraction); },
        feedback.withRetryNotice(options));
    if (options.stop.stop_requested()) {
        throw Stopped{};
    }

    view.setStatus("Installing v" + manifest.version + "…");
    view.setProgress(1.0);
    // Staged: a failure here leaves the installed build and its marker as they were, and the
    // marker is written before the version line below reads it.
    Core::Install::installBuild(layout, manifest);
    std::error_code ignored;
    fs::remove(archive, ignored);

    view.setStatus("Ready to deploy.");
    view.showPlayable("PLAY  v" + manifest.version, "UPDATED");
}

void checkAndUpdate(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                    const ReleaseEndpoints& endpoints,
                    const Core::Transfer::TransferOptions& options,
                    const Core::Trust::ReleaseKeys& keys) {
    view.setStatus("Checking for updates…");
    const Manifest manifest = Core::fetchRelease(endpoints.manifestURL, options, keys);
    // Refused before it is stored: PLAY and the up-to-date test both follow the bundle name.
    Core::Install::requireSafeBundleName(manifest);
    view.storeManifest(manifest);
    view.showReleaseText(changelogOrEmpty(endpoints.changelogURL, options));

    // Held from the first write to the end of the run, so that no other launcher updates this
    // install meanwhile. A missing install root has nothing to recover, and is only created
    // (by taking the lock) once there is something to download.
    std::optional<Core::Install::InstallLock> lock;
    if (FileSystem::exists(layout.root)) {
        lock.emplace(layout);
        // An update that a crash cut short is settled first, so the version read below names
        // the build that is really there.
        Core::Install::recoverInterruptedUpdate(layout);
    }
    if (Core::Install::installedVersion(layout) == manifest.version &&
        Core::Install::isInstalled(layout, manifest)) {
        view.setProgress(1.0);
        view.setStatus("Ready to deploy.");
        view.showPlayable("PLAY", "UP TO DATE");
        return;
    }
    if (!Core::Transfer::isValidAddress(manifest.url)) {
        throw Error::am(AmCode::NoArchiveAddress, "manifest has no macurl");
    }
    if (!lock) {
        lock.emplace(layout);
    }
    downloadAndInstall(view, layout, manifest, options);
}

void showFailure(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                 const std::string& reason) {
    const std::string installed = Core::Install::installedVersion(layout);
    if (installed.empty()) {
        view.setStatus("Could not fetch the build.\n" + reason);
        view.showVersionState("ERROR");
        return;
    }
    view.storeManifest(fallbackManifest(installed));
    view.setProgress(1.0);
    view.setStatus("Update check failed — playing installed v" + installed + ".");
    view.showPlayable("PLAY  v" + installed, "OFFLINE");
}

} // namespace

void runUpdateFlow(UpdateFlowView& view, const Core::Install::InstallLayout& layout,
                   const ReleaseEndpoints& endpoints,
                   const Core::Transfer::TransferOptions& options,
                   const Core::Trust::ReleaseKeys& keys) {
    try {
        checkAndUpdate(view, layout, endpoints, options, keys);
    } catch (const Stopped&) {
    } catch (const Error& error) {
        if (!options.stop.stop_requested()) {
            showFailure(view, layout, error.localizedMessage());
        }
    } catch (const std::exception& error) {
        // Not one of ours (out of memory, a library's own exception): still a failed run, not
        // a crashed launcher.
        showFailure(view, layout, error.what());
    }
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
