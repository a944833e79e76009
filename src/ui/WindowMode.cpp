#include "ui/WindowMode.h"

#include "core/install/InstallStore.h"
#include "ui/AppDelegate.h"

#include <QApplication>
#include <QTimer>

int runWindowMode(int argc, char** argv) {
    QApplication application(argc, argv);
    // One look on every desktop: the window draws its own dark palette over this style.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Closing the launcher window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);

    // Where the game is installed, read once for the whole session.
    const Core::Install::InstallLayout layout{Core::Install::installRoot()};
    AppDelegate delegate([&layout] { return Core::Install::installedVersion(layout); }, layout);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
