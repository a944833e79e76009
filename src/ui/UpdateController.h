#pragma once

#include "core/install/InstallLayout.h"
#include "core/transfer/Transfer.h"
#include "platform/ReleaseHost.h"

#include <QObject>

#include <atomic>
#include <thread>

class LauncherWindow;

// What the window's buttons and its start set going: update runs, one at a time on a worker
// thread the controller owns, and the start of the game.
//
// Threads: everything here on the main thread, except isUpdating, which any thread may call.
// The destructor stops a transfer in progress and waits for the run to end, so no run outlives
// the controller; the window must outlive it.
class UpdateController : public QObject {
    Q_OBJECT

public:
    // Runs install into `layout` and ask `endpoints` with `options`.
    UpdateController(
        LauncherWindow& window, Core::Install::InstallLayout layout,
        ReleaseEndpoints endpoints = releaseEndpoints(),
        Core::Transfer::TransferOptions options = Core::Transfer::defaultTransferOptions());
    ~UpdateController() override;

    // Called once the event loop runs: builds the window and brings it to the front, then starts
    // the first update check on the next turn of the loop.
    void applicationDidFinishLaunching();

    // True from the start of a run until its last window change has been queued.
    bool isUpdating() const { return busy_; }

public slots:
    // PLAY: starts the installed game and quits the launcher; when the game cannot be started
    // the status says why and the launcher stays open.
    void launchGame();
    // "check again", and the first check: starts one update run on the worker and returns at
    // once; does nothing while a run is in progress.
    void recheck();

private:
    LauncherWindow& window_;
    Core::Install::InstallLayout layout_;
    ReleaseEndpoints endpoints_;
    Core::Transfer::TransferOptions transferOptions_;

    // True while an update run is in progress. Set (test-and-set) on the main thread when a run
    // is started, cleared by the worker as its last step.
    std::atomic<bool> busy_{false};
    // The current or last update run. Started and joined on the main thread only.
    std::jthread updateWorker_;
};
