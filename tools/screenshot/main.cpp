// ashenmarch-screenshot <release host> <picture.png> [<download fraction>]
//
// Opens the launcher window as the launcher does (same style, palette and resources), runs one
// update against the release host and saves a picture of the window: once the run has ended,
// or, given a fraction, as soon as the download's progress bar reaches it (with a host that
// stops sending there, the picture is the same every time). The install root comes from
// AM_INSTALL_DIR as in the launcher. Prints the status and version line it saw; exits 1 when
// the window does not get there within a minute.

#include "core/install/InstallStore.h"
#include "ui/LauncherWindow.h"
#include "ui/UpdateController.h"
#include "ui/Views.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(20);
constexpr auto timeLimit = std::chrono::minutes(1);

struct Request {
    std::string host;
    QString picture;
    std::optional<double> downloadFraction;
};

std::optional<Request> parseArguments(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        return std::nullopt;
    }
    Request request{argv[1], QString::fromLocal8Bit(argv[2]), std::nullopt};
    if (argc == 4) {
        char* end = nullptr;
        request.downloadFraction = std::strtod(argv[3], &end);
        if (*end != '\0') {
            return std::nullopt;
        }
    }
    return request;
}

QString labelText(const QWidget& window, const char* objectName) {
    const auto* label = window.findChild<QLabel*>(QLatin1String(objectName));
    return label != nullptr ? label->text() : QString();
}

// True once the window shows what the picture is meant to hold.
bool ready(const QWidget& window, bool updating, const Request& request) {
    if (request.downloadFraction) {
        const auto* bar = window.findChild<QProgressBar*>("progressBar");
        return bar != nullptr && Views::fraction(*bar) >= *request.downloadFraction;
    }
    return !updating;
}

int save(const LauncherWindow& launcher, const Request& request) {
    // The run's last changes may still be queued behind the poll.
    QCoreApplication::sendPostedEvents();
    QWidget& window = *launcher.widget();
    if (!window.grab().save(request.picture)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(request.picture));
        return 1;
    }
    std::printf("%s\n  status : %s\n  version: %s\n", qPrintable(request.picture),
                qPrintable(labelText(window, "statusLabel").replace('\n', " / ")),
                qPrintable(labelText(window, "versionLabel")));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Request> request = parseArguments(argc, argv);
    if (!request) {
        std::fprintf(stderr, "usage: %s <release host> <picture.png> [<download fraction>]\n",
                     argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    Core::Transfer::TransferOptions options = Core::Transfer::defaultTransferOptions();
    options.allowPlainHttp = true; // the hosts this tool is pointed at are loopback demo hosts
    const Core::Install::InstallLayout layout{Core::Install::installRoot()};
    LauncherWindow window([&layout] { return Core::Install::installedVersion(layout); });
    UpdateController controller(
        window, layout, {request->host + "/latest.txt", request->host + "/changelog.txt"}, options);
    controller.applicationDidFinishLaunching();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (ready(*window.widget(), controller.isUpdating(), *request)) {
            poll.stop();
            QCoreApplication::exit(save(window, *request));
        }
    });
    poll.start(pollInterval);
    QTimer::singleShot(timeLimit, [] {
        std::fprintf(stderr, "the window did not settle within a minute\n");
        QCoreApplication::exit(1);
    });
    return QApplication::exec();
}
