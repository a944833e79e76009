#include "ui/AppDelegate.h"

#include "ui/LineLimitedLabel.h"
#include "ui/Views.h"

#include <QProgressBar>
#include <QWidget>

AppDelegate::AppDelegate(InstalledVersionReader readInstalledVersion)
    : readInstalledVersion_(std::move(readInstalledVersion)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    buildWindow();
    startUpdateFlow();
}

void AppDelegate::ui(std::function<void()> work) {
    // A queued call is posted as an event even on the main thread, so it always runs on a later
    // turn of the loop, after every event posted before it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void AppDelegate::setStatus(std::string text) {
    ui([this, text = std::move(text)] { statusLabel_->setText(QString::fromStdString(text)); });
}

void AppDelegate::setProgress(double fraction) {
    ui([this, fraction] { Views::setFraction(*progressBar_, fraction); });
}

std::optional<Manifest> AppDelegate::manifest() const {
    const std::lock_guard lock(manifestMutex_);
    return manifest_;
}

void AppDelegate::setManifest(std::optional<Manifest> manifest) {
    const std::lock_guard lock(manifestMutex_);
    manifest_ = std::move(manifest);
}

void AppDelegate::startUpdateFlow() {
    // The check itself runs on a worker; until it exists the window keeps its start state.
}

void AppDelegate::launchGame() {
    // PLAY stays disabled until an update check has found a playable build.
}

void AppDelegate::recheck() {
    if (!busy_) {
        startUpdateFlow();
    }
}
