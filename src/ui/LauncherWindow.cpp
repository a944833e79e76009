#include "ui/LauncherWindow.h"

#include "ui/LineLimitedLabel.h"
#include "ui/Views.h"

#include <QProgressBar>
#include <QPushButton>

LauncherWindow::LauncherWindow(InstalledVersionReader readInstalledVersion)
    : readInstalledVersion_(std::move(readInstalledVersion)) {}

void LauncherWindow::ui(std::function<void()> work) {
    // A queued call is posted as an event even on the main thread, so it always runs on a later
    // turn of the loop, after every event posted before it.
    const std::lock_guard lock(queueMutex_);
    lastQueuedProgress_.reset();
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void LauncherWindow::setStatus(std::string text) {
    ui([this, text = std::move(text)] { statusLabel_->setText(QString::fromStdString(text)); });
}

void LauncherWindow::setProgress(double fraction) {
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

double LauncherWindow::takeProgress(const std::shared_ptr<PendingProgress>& pending) {
    const std::lock_guard lock(queueMutex_);
    if (lastQueuedProgress_ == pending) {
        lastQueuedProgress_.reset();
    }
    return pending->fraction;
}

void LauncherWindow::showReleaseText(Changelog entries) {
    ChangelogRuns runs = std::make_shared<const std::vector<StyledRun>>(changelogRuns(entries));
    ui([this, runs = std::move(runs)] { showChangelog(runs); });
    ui([this, entries = std::move(entries)] { renderNotes(entries); });
}

void LauncherWindow::showPlayButton(std::string title, bool enabled) {
    ui([this, title = std::move(title), enabled] {
        playButton_->setText(QString::fromStdString(title));
        playButton_->setEnabled(enabled);
    });
}

void LauncherWindow::showPlayable(std::string playTitle, std::string state) {
    ui([this, playTitle = std::move(playTitle), state = std::move(state)] {
        playButton_->setText(QString::fromStdString(playTitle));
        playButton_->setEnabled(true);
        updateVersionLine(state);
    });
}

void LauncherWindow::showVersionState(std::string state) {
    ui([this, state = std::move(state)] { updateVersionLine(state); });
}

std::optional<Manifest> LauncherWindow::manifest() const {
    const std::lock_guard lock(manifestMutex_);
    return manifest_;
}

void LauncherWindow::storeManifest(Manifest manifest) {
    const std::lock_guard lock(manifestMutex_);
    manifest_ = std::move(manifest);
}
