#include "ui/WindowMode.h"

#include "core/install/InstallStore.h"
#include "ui/LauncherWindow.h"
#include "ui/UpdateController.h"

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
    LauncherWindow window([&layout] { return Core::Install::installedVersion(layout); });
    UpdateController controller(window, layout);
    QTimer::singleShot(0, &controller, &UpdateController::applicationDidFinishLaunching);
    return QApplication::exec();
}
