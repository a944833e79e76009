#pragma once

#include <QApplication>
#include <QTimer>

#include <chrono>

// Runs the application's event loop until something ends it and returns its exit code, or
// `timeoutCode` once `limit` has passed. The time limit goes with the call, so it never ends a
// later loop.
inline int runEventLoop(std::chrono::milliseconds limit, int timeoutCode) {
    QTimer limitTimer;
    limitTimer.setSingleShot(true);
    QObject::connect(&limitTimer, &QTimer::timeout,
                     [timeoutCode] { QCoreApplication::exit(timeoutCode); });
    limitTimer.start(limit);
    return QApplication::exec();
}
