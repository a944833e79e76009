#pragma once

#include "formats/Changelog.h"
#include "formats/Manifest.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
// Threads: construct, build and render on the main (GUI) thread. ui, setStatus and setProgress
// may be called from any thread; they never block and never run the change at once. The
// manifest accessors may be called from any thread.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Reads the installed version for the version line; empty when nothing is installed.
    using InstalledVersionReader = std::function<std::string()>;

    explicit AppDelegate(InstalledVersionReader readInstalledVersion);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Called once the event loop runs: builds the window, starts the first update check and
    // brings the window to the front.
    void applicationDidFinishLaunching();

    // Builds and shows the window with every view in its start state. Call once.
    void buildWindow();
    // The launcher window; null before buildWindow. Owned by the delegate, kept when closed.
    QWidget* window() const { return window_.get(); }

    // Queues work to run on the main thread after everything queued before it; returns at once,
    // also when called on the main thread. Work still queued when the delegate goes is dropped.
    void ui(std::function<void()> work);
    void setStatus(std::string text);
    // 0 empties the progress bar, 1 fills it.
    void setProgress(double fraction);

    // The three views built from release data; main thread only.
    void renderChangelog(const std::vector<ChangelogEntry>& entries);
    void renderNotes(const std::vector<ChangelogEntry>& entries);
    // Rewrites the version line from the installed version, the manifest's version and the
    // state word ("UP TO DATE", "UPDATED", "OFFLINE", "ERROR"; anything else is neutral).
    void updateVersionLine(const std::string& state);

    std::optional<Manifest> manifest() const;
    void setManifest(std::optional<Manifest> manifest);

    // Starts one update check in the background. For now the window keeps its start state.
    void startUpdateFlow();

public slots:
    // PLAY and "check again".
    void launchGame();
    void recheck();

private:
    InstalledVersionReader readInstalledVersion_;

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

    // True while an update check runs; set and cleared by the update worker, read by recheck.
    std::atomic<bool> busy_{false};
};
