// Widgets need one QApplication for the whole test program. GoogleTest's own main runs the
// tests, so the application is created by a global test environment, registered as the
// program loads.

#include <QApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

struct QtApplicationEnvironment : testing::Environment {
    void SetUp() override {
        // CTest sets the offscreen platform; a direct run from a shell without a display
        // should work the same.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setStyle(QStringLiteral("Fusion"));
    }

    void TearDown() override { application_.reset(); }

    int argc_ = 1;
    char name_[9] = "ui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace
