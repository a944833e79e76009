#include "ui/UpdateController.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"
#include "ui/LauncherWindow.h"
#include "ui/PlayerMessage.h"
#include "ui/UpdateFlow.h"

#include <QCoreApplication>

UpdateController::UpdateController(LauncherWindow& window, Core::Install::InstallLayout layout,
                                   ReleaseEndpoints endpoints,
                                   Core::Transfer::TransferOptions options)
    : window_(window), layout_(std::move(layout)), endpoints_(std::move(endpoints)),
      transferOptions_(std::move(options)) {
    connect(&window_, &LauncherWindow::playPressed, this, &UpdateController::launchGame);
    connect(&window_, &LauncherWindow::checkAgainPressed, this, &UpdateController::recheck);
}

UpdateController::~UpdateController() {
    // The run queues changes to the window until its end: abort its transfer and wait.
    updateWorker_.request_stop();
    if (updateWorker_.joinable()) {
        updateWorker_.join();
    }
}

void UpdateController::applicationDidFinishLaunching() {
    window_.buildWindow();
    // On the next turn of the event loop, which first draws the window where the platform has
    // it ready: the run's first changes would otherwise land on top of that first frame.
    QMetaObject::invokeMethod(this, &UpdateController::recheck, Qt::QueuedConnection);
}

void UpdateController::recheck() {
    // Test-and-set where the request is made: a second press, however quick, finds it set.
    if (busy_.exchange(true)) {
        return;
    }
    // The last run cleared busy_ as its final step, so it has ended or is about to.
    if (updateWorker_.joinable()) {
        updateWorker_.join();
    }
    updateWorker_ = std::jthread([this](std::stop_token stop) {
        try {
            runUpdateFlow(window_, layout_, endpoints_, transferOptions_, std::move(stop));
        } catch (...) {
            // Only setting a run up can throw (out of memory); a run reports its own failures.
        }
        busy_ = false;
    });
}

void UpdateController::launchGame() {
    const std::optional<Manifest> current = window_.manifest();
    if (!current) {
        return;
    }
    const std::filesystem::path bundle = layout_.gameAppPath(*current);
    if (!FileSystem::exists(bundle)) {
        window_.setStatus("Nothing installed yet — check your connection and press 'check again'.");
        return;
    }
    try {
        startGame(bundle);
    } catch (...) {
        // Quitting now would look like a start that worked; the player could not tell.
        window_.setStatus("Could not start the game.\n" +
                          launchFailureMessage(currentError(), bundleExecutable(bundle)));
        return;
    }
    QCoreApplication::quit();
}
