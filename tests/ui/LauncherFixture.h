#pragma once

#include "QtPrinting.h"
#include "ui/LauncherWindow.h"

#include <QCoreApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

// A window with its views built, and an installed version the test controls.
class LauncherFixture : public testing::Test {
protected:
    LauncherFixture() { launcher.buildWindow(); }

    // The view with this object name; throws (failing the test) when there is none.
    template <class View> View& view(const char* objectName) {
        auto* found = launcher.widget()->findChild<View*>(QLatin1String(objectName));
        if (found == nullptr) {
            throw std::runtime_error(std::string("no view named ") + objectName);
        }
        return *found;
    }

    // Runs everything queued through ui() so far.
    static void runQueuedWork() { QCoreApplication::sendPostedEvents(); }

    std::string installed;
    LauncherWindow launcher{[this] {
        return installed;
    }};
};
