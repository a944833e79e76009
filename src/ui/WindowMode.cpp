#include "ui/WindowMode.h"

#include "core/install/InstallStore.h"
#include "ui/LauncherWindow.h"
#include "ui/UpdateController.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// Installed only while the application object connects to the display. Qt ends the process with
// a core dump when no display can be reached; a player (or a script on a headless machine) gets
// one line that says what to do instead, and exit status 2. Qt's own chatter about the
// platform plugins is left out of that line.
void reportMissingDisplay(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg) {
        return;
    }
    std::fputs("ashenmarch-launcher: no display found; run it with --update to update without a "
               "window, or --cli for the self-check\n",
               stderr);
    std::_Exit(2);
}

} // namespace

int runWindowMode(int argc, char** argv) {
    const QtMessageHandler previous = qInstallMessageHandler(reportMissingDisplay);
    QApplication application(argc, argv);
    qInstallMessageHandler(previous);
    // One look on every desktop: the window draws its own dark palette over this style.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Closing the launcher window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);

    // Where the game is installed, read once for the whole session.
    const Core::Install::InstallLayout layout{Core::Install::installRoot()};
    LauncherWindow window([&layout] { return Core::Install::installedVersion(layout); });
    UpdateController controller(window, layout);
    QTimer::singleShot(0, &controller, &UpdateController::applicationDidFinishLaunching);
    return QApplication::exec();
}
