// Runs one update exactly as the launcher window does (the real window and controller, its worker
// thread and update flow, against the build's release host, into $AM_INSTALL_DIR) with no screen
// (Qt's offscreen platform), and watches the main thread meanwhile.
//
//   am-bench-update <expected version>
//
// Prints one line of key=value figures:
//   chain_s          window built until the run's last window change has been applied
//   max_stall_ms     longest the event loop went without serving a 1 ms timer, less the 1 ms
//   max_stall_at_ms  when that stall ended, from the start of the run
//   longest_change_ms  longest a single queued window change took to apply
//   max_pending      most window changes ever queued ahead of a probe event (sampled each ms)
//   progress_applied progress changes the window applied
// Exit status 0 when the run ended with the expected version installed.

#include "core/install/InstallStore.h"
#include "platform/TimeZone.h"
#include "ui/LauncherWindow.h"
#include "ui/UpdateController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <QTimer>
#include <curl/curl.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Posted behind whatever the worker has queued; when it arrives, everything delivered to the
// window since it was posted was waiting ahead of it.
class ProbeEvent : public QEvent {
public:
    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    ProbeEvent() : QEvent(type()) {}
};

// Counts the changes queued to the window as the main thread applies them, and times each.
class ProbedApplication : public QApplication {
public:
    using QApplication::QApplication;

    void watch(const QObject* window) { window_ = window; }
    long long delivered() const { return delivered_; }
    double longestChangeMs() const { return longestChangeMs_; }

    bool notify(QObject* receiver, QEvent* event) override {
        if (receiver != window_ || event->type() != QEvent::MetaCall) {
            return QApplication::notify(receiver, event);
        }
        ++delivered_;
        QElapsedTimer clock;
        clock.start();
        const bool handled = QApplication::notify(receiver, event);
        longestChangeMs_ =
            std::max(longestChangeMs_, static_cast<double>(clock.nsecsElapsed()) / 1e6);
        return handled;
    }

private:
    const QObject* window_ = nullptr;
    long long delivered_ = 0;
    double longestChangeMs_ = 0;
};

class MainThreadProbe : public QObject {
public:
    explicit MainThreadProbe(const ProbedApplication& application) : application_(application) {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(1);
        QObject::connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
        clock_.start();
        ticker_.start();
    }

    // Counts from now: whatever holds the loop up from here on is a stall.
    void startCounting() {
        countedFromMs_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        lastTickMs_ = countedFromMs_;
    }

    double maxStallMs() const { return maxStallMs_; }
    // When the longest stall ended, counted from the start of the run.
    double maxStallAtMs() const { return maxStallAtMs_; }
    long long maxPending() const { return maxPending_; }

protected:
    bool event(QEvent* event) override {
        if (event->type() != ProbeEvent::type()) {
            return QObject::event(event);
        }
        maxPending_ = std::max(maxPending_, application_.delivered() - deliveredAtPost_);
        probeOut_ = false;
        return true;
    }

private:
    void tick() {
        const double now = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        if (lastTickMs_ >= 0 && now - lastTickMs_ - 1.0 > maxStallMs_) {
            maxStallMs_ = now - lastTickMs_ - 1.0;
            maxStallAtMs_ = now - countedFromMs_;
        }
        lastTickMs_ = now;
        if (!probeOut_) {
            probeOut_ = true;
            deliveredAtPost_ = application_.delivered();
            QCoreApplication::postEvent(this, new ProbeEvent);
        }
    }

    const ProbedApplication& application_;
    QTimer ticker_;
    QElapsedTimer clock_;
    double lastTickMs_ = -1;
    double countedFromMs_ = 0;
    double maxStallMs_ = 0;
    double maxStallAtMs_ = 0;
    long long deliveredAtPost_ = 0;
    long long maxPending_ = 0;
    bool probeOut_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: am-bench-update <expected version>\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The launcher's own process set-up.
    TimeZone::pinSystemZone();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::signal(SIGPIPE, SIG_IGN);
    ProbedApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    const Core::Install::InstallLayout layout{Core::Install::installRoot()};
    LauncherWindow window([&layout] { return Core::Install::installedVersion(layout); });
    UpdateController controller(window, layout);
    long long progressApplied = 0;
    application.watch(&window);
    MainThreadProbe probe(application);

    // As the launcher does once the event loop runs: the window is built, and the run starts on
    // the next turn, after the window's first paint. Counted from the end of the build, so both
    // the first paint and the whole run are.
    QElapsedTimer chain;
    bool runStarted = false;
    QTimer::singleShot(0, [&] {
        controller.applicationDidFinishLaunching();
        chain.start();
        probe.startCounting();
        QObject::connect(window.widget()->findChild<QProgressBar*>(), &QProgressBar::valueChanged,
                         [&] { ++progressApplied; });
        // Queued behind the controller's start of the run.
        QMetaObject::invokeMethod(
            &controller, [&] { runStarted = true; }, Qt::QueuedConnection);
    });
    // The run is over once the worker is done and the changes it queued have been applied:
    // a queued call posted now runs after all of them.
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (runStarted && !controller.isUpdating()) {
            finished.stop();
            window.ui([] { QCoreApplication::quit(); });
        }
    });
    finished.start(1);
    QApplication::exec();

    std::printf("chain_s=%.3f max_stall_ms=%.1f max_stall_at_ms=%.0f longest_change_ms=%.1f "
                "max_pending=%lld progress_applied=%lld\n",
                static_cast<double>(chain.nsecsElapsed()) / 1e9, probe.maxStallMs(),
                probe.maxStallAtMs(), application.longestChangeMs(), probe.maxPending(),
                progressApplied);
    return Core::Install::installedVersion(layout) == argv[1] ? 0 : 1;
}
