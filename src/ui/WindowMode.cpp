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

    AppDelegate delegate(&Core::Install::installedVersion);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
