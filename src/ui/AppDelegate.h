#pragma once

#include "core/install/InstallLayout.h"
#include "core/transfer/Transfer.h"
#include "formats/Changelog.h"
#include "formats/Manifest.h"
#include "platform/ReleaseHost.h"
#include "ui/ReleaseText.h"
#include "ui/UpdateFlow.h"

#include <QFont>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class LineLimitedLabel;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QWidget;

// The window mode's controller: builds the one launcher window, owns it and its state, and
// offers the only ways other threads change it (ui, setStatus, setProgress).
//
// Threads: construct, build, render, start update runs and press buttons on the main (GUI)
// thread. ui, setStatus, setProgress and the other UpdateFlowView calls may be called from any
// thread; they never block and never run the change at once. The manifest accessors and
// isUpdating may be called from any thread.
//
// Update runs go on a worker thread that the delegate owns: the destructor stops a transfer in
// progress and waits for the run to end, so no run outlives the delegate.
class AppDelegate : public QObject, public UpdateFlowView {
    Q_OBJECT

public:
    // Reads the installed version for the version line; empty when nothing is installed.
    using InstalledVersionReader = std::function<std::string()>;

    // Update runs install into `layout` and ask `endpoints` with `options` (their stop token is
    // replaced by the worker's).
    explicit AppDelegate(
        InstalledVersionReader readInstalledVersion,
        Core::Install::InstallLayout layout = {Core::Install::installRoot()},
        ReleaseEndpoints endpoints = releaseEndpoints(),
        Core::Transfer::TransferOptions options = Core::Transfer::defaultTransferOptions());
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Called once the event loop runs: builds the window and brings it to the front, then starts
    // the first update check on the next turn of the loop.
    void applicationDidFinishLaunching();

    // Builds and shows the window with every view in its start state. Call once.
    void buildWindow();
    // The launcher window; null before buildWindow. Owned by the delegate, kept when closed.
    QWidget* window() const { return window_.get(); }

    // Queues work to run on the main thread after everything queued before it; returns at once,
    // also when called on the main thread. Work still queued when the delegate goes is dropped.
    void ui(std::function<void()> work);
    void setStatus(std::string text) override;
    // 0 empties the progress bar, 1 fills it. Fractions set while the last one is still queued
    // with nothing behind it replace it: the bar shows the latest, once.
    void setProgress(double fraction) override;
    void showReleaseText(std::vector<ChangelogEntry> entries) override;
    void showPlayButton(std::string title, bool enabled) override;
    void showPlayable(std::string playTitle, std::string state) override;
    void showVersionState(std::string state) override;

    // The three views built from release data; main thread only.
    void renderChangelog(const std::vector<ChangelogEntry>& entries);
    void renderNotes(const std::vector<ChangelogEntry>& entries);
    // Rewrites the version line from the installed version, the manifest's version and the
    // state word ("UP TO DATE", "UPDATED", "OFFLINE", "ERROR"; anything else is neutral).
    void updateVersionLine(const std::string& state);

    std::optional<Manifest> manifest() const;
    void setManifest(std::optional<Manifest> manifest);
    void storeManifest(Manifest manifest) override;

    // Starts one update run on the worker and returns at once; does nothing while a run is in
    // progress. Main thread only.
    void startUpdateFlow();
    // True from the start of a run until its last window change has been queued.
    bool isUpdating() const { return busy_; }

public slots:
    // PLAY: starts the installed game and quits the launcher; when the game cannot be started
    // the status says why and the launcher stays open.
    void launchGame();
    // "check again": one more update run, unless one is in progress.
    void recheck();

private:
    using ChangelogRuns = std::shared_ptr<const std::vector<StyledRun>>;
    // Replaces the pane's text with the first runs and queues the rest (see changelogFill_).
    void showChangelog(ChangelogRuns runs);
    void appendChangelog(const ChangelogRuns& runs, std::size_t from, std::uint64_t fill);

    InstalledVersionReader readInstalledVersion_;

    // The changelog's two fonts, taken from the screen once by buildWindow.
    QFont changelogHeaderFont_;
    QFont changelogBodyFont_;
    // The changelog goes into the pane a slice per turn of the event loop, each laid out as it
    // lands, so that a changelog of any length never holds the window up for long. Counts the
    // fills started: a slice queued for an older one is dropped.
    std::uint64_t changelogFill_ = 0;

    // The window owns every view below; the pointers are set by buildWindow and stay valid for
    // the delegate's life.
    std::unique_ptr<QWidget> window_;
    LineLimitedLabel* statusLabel_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    LineLimitedLabel* notesLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QTextEdit* changelogText_ = nullptr;

    // The last release manifest read from the host. Written by the update worker, read on the
    // main thread; guarded by manifestMutex_ so a reader sees a whole record.
    mutable std::mutex manifestMutex_;
    std::optional<Manifest> manifest_;

    Core::Install::InstallLayout layout_;
    ReleaseEndpoints endpoints_;
    Core::Transfer::TransferOptions transferOptions_;

    // A queued progress change that is still the last change queued. A download reports
    // thousands of fractions a second: while nothing else is queued behind it, later fractions
    // update it instead of queuing more, so the main thread applies the latest one once and
    // every other change still applies in the order queued. Guarded by queueMutex_, which is
    // held while posting so that the check and the post are one step.
    struct PendingProgress {
        double fraction;
    };
    double takeProgress(const std::shared_ptr<PendingProgress>& pending);
    std::mutex queueMutex_;
    std::shared_ptr<PendingProgress> lastQueuedProgress_;

    // True while an update run is in progress. Set (test-and-set) on the main thread when a run
    // is started, cleared by the worker as its last step.
    std::atomic<bool> busy_{false};
    // The current or last update run. Started and joined on the main thread only.
    std::jthread updateWorker_;
};
