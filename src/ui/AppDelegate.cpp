#include "ui/AppDelegate.h"

#include "core/install/InstallStore.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/GameLaunch.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Views.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

AppDelegate::AppDelegate(InstalledVersionReader readInstalledVersion,
                         Core::Install::InstallLayout layout, ReleaseEndpoints endpoints,
                         Core::Transfer::TransferOptions options)
    : readInstalledVersion_(std::move(readInstalledVersion)), layout_(std::move(layout)),
      endpoints_(std::move(endpoints)), transferOptions_(std::move(options)) {}

AppDelegate::~AppDelegate() {
    // The run queues changes to this object until its end: abort its transfer and wait, before
    // any view goes. Changes it queued meanwhile are dropped with the object.
    updateWorker_.request_stop();
    if (updateWorker_.joinable()) {
        updateWorker_.join();
    }
}

void AppDelegate::applicationDidFinishLaunching() {
    buildWindow();
    // On the next turn of the event loop, which first draws the window where the platform has
    // it ready: the run's first changes would otherwise land on top of that first frame.
    QMetaObject::invokeMethod(this, &AppDelegate::startUpdateFlow, Qt::QueuedConnection);
}

void AppDelegate::ui(std::function<void()> work) {
    // A queued call is posted as an event even on the main thread, so it always runs on a later
    // turn of the loop, after every event posted before it.
    const std::lock_guard lock(queueMutex_);
    lastQueuedProgress_.reset();
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void AppDelegate::setStatus(std::string text) {
    ui([this, text = std::move(text)] { statusLabel_->setText(QString::fromStdString(text)); });
}

void AppDelegate::setProgress(double fraction) {
    const std::lock_guard lock(queueMutex_);
    if (lastQueuedProgress_) {
        lastQueuedProgress_->fraction = fraction;
        return;
    }
    auto pending = std::make_shared<PendingProgress>(PendingProgress{fraction});
    lastQueuedProgress_ = pending;
    QMetaObject::invokeMethod(
        this, [this, pending] { Views::setFraction(*progressBar_, takeProgress(pending)); },
        Qt::QueuedConnection);
}

double AppDelegate::takeProgress(const std::shared_ptr<PendingProgress>& pending) {
    const std::lock_guard lock(queueMutex_);
    if (lastQueuedProgress_ == pending) {
        lastQueuedProgress_.reset();
    }
    return pending->fraction;
}

void AppDelegate::showReleaseText(std::vector<ChangelogEntry> entries) {
    ChangelogRuns runs = std::make_shared<const std::vector<StyledRun>>(changelogRuns(entries));
    ui([this, runs = std::move(runs)] { showChangelog(runs); });
    ui([this, entries = std::move(entries)] { renderNotes(entries); });
}

void AppDelegate::showPlayButton(std::string title, bool enabled) {
    ui([this, title = std::move(title), enabled] {
        playButton_->setText(QString::fromStdString(title));
        playButton_->setEnabled(enabled);
    });
}

void AppDelegate::showPlayable(std::string playTitle, std::string state) {
    ui([this, playTitle = std::move(playTitle), state = std::move(state)] {
        playButton_->setText(QString::fromStdString(playTitle));
        playButton_->setEnabled(true);
        updateVersionLine(state);
    });
}

void AppDelegate::showVersionState(std::string state) {
    ui([this, state = std::move(state)] { updateVersionLine(state); });
}

std::optional<Manifest> AppDelegate::manifest() const {
    const std::lock_guard lock(manifestMutex_);
    return manifest_;
}

void AppDelegate::setManifest(std::optional<Manifest> manifest) {
    const std::lock_guard lock(manifestMutex_);
    manifest_ = std::move(manifest);
}

void AppDelegate::storeManifest(Manifest manifest) {
    setManifest(std::move(manifest));
}

void AppDelegate::startUpdateFlow() {
    // Test-and-set where the request is made: a second press, however quick, finds it set.
    if (busy_.exchange(true)) {
        return;
    }
    // The last run cleared busy_ as its final step, so it has ended or is about to.
    if (updateWorker_.joinable()) {
        updateWorker_.join();
    }
    updateWorker_ = std::jthread([this](std::stop_token stop) {
        runUpdateFlow(*this, layout_, endpoints_, transferOptions_, std::move(stop));
        busy_ = false;
    });
}

void AppDelegate::launchGame() {
    const std::optional<Manifest> current = manifest();
    if (!current) {
        return;
    }
    const std::filesystem::path bundle = layout_.gameAppPath(*current);
    if (!FileSystem::exists(bundle)) {
        setStatus("Nothing installed yet — check your connection and press 'check again'.");
        return;
    }
    try {
        startGame(bundle);
    } catch (const Error& error) {
        // Quitting now would look like a start that worked; the player could not tell.
        setStatus("Could not start the game.\n" + error.localizedMessage());
        return;
    }
    QCoreApplication::quit();
}

void AppDelegate::recheck() {
    startUpdateFlow();
}
