#pragma once

#include "ui/ReleaseText.h"
#include "ui/UpdateFlow.h"

#include <QFont>
#include <QObject>
#include <QWidget>

#include <cstdint>
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

// The one launcher window: builds its views, owns them and the manifest they show, and offers
// the only ways other threads change them (ui, setStatus, setProgress and the other
// UpdateFlowView calls). What the buttons do is the update controller's: the window only says
// they were pressed.
//
// Threads: construct, build, render and press buttons on the main (GUI) thread. ui, setStatus,
// setProgress and the other UpdateFlowView calls may be called from any thread; they never block
// and never run the change at once. The manifest accessors may be called from any thread.
class LauncherWindow : public QObject, public UpdateFlowView {
    Q_OBJECT

public:
    // Reads the installed version for the version line; empty when nothing is installed.
    using InstalledVersionReader = std::function<std::string()>;

    explicit LauncherWindow(InstalledVersionReader readInstalledVersion);

    // Builds and shows the window with every view in its start state. Call once.
    void buildWindow();
    // The window's widget; null before buildWindow. Owned here, kept when closed.
    QWidget* widget() const { return widget_.get(); }

    // Queues work to run on the main thread after everything queued before it; returns at once,
    // also when called on the main thread. Work still queued when the window goes is dropped.
    void ui(std::function<void()> work);
    void setStatus(std::string text) override;
    // 0 empties the progress bar, 1 fills it. Fractions set while the last one is still queued
    // with nothing behind it replace it: the bar shows the latest, once.
    void setProgress(double fraction) override;
    void showReleaseText(Changelog entries) override;
    void showPlayButton(std::string title, bool enabled) override;
    void showPlayable(std::string playTitle, std::string state) override;
    void showVersionState(std::string state) override;

    // The three views built from release data; main thread only.
    void renderChangelog(const Changelog& entries);
    void renderNotes(const Changelog& entries);
    // Rewrites the version line from the installed version, the manifest's version and the
    // state word ("UP TO DATE", "UPDATED", "OFFLINE", "ERROR"; anything else is neutral).
    void updateVersionLine(const std::string& state);

    std::optional<Manifest> manifest() const;
    void storeManifest(Manifest manifest) override;

signals:
    void playPressed();
    void checkAgainPressed();

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

    // The widget owns every view below; the pointers are set by buildWindow and stay valid for
    // the window's life.
    std::unique_ptr<QWidget> widget_;
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
};
