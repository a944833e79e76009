#include "LauncherFixture.h"
#include "ui/Views.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

#include <string_view>

namespace {

using LauncherWindow = LauncherFixture;

// Before the first run has said anything: nothing to play, nothing known, and no text that a
// release host sends ever read as markup.
TEST_F(LauncherWindow, StartsWithNothingToPlayAndShowsEveryTextAsPlainText) {
    const QWidget& window = *launcher.widget();
    EXPECT_EQ(window.size(), QSize(760, 560));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "not resizable";
    EXPECT_EQ(view<QLabel>("statusLabel").text(), "Checking for updates…");
    EXPECT_EQ(view<QLabel>("versionLabel").text(), "Installed —   ·   Latest —");
    EXPECT_EQ(Views::fraction(view<QProgressBar>("progressBar")), 0.0);
    EXPECT_FALSE(view<QPushButton>("playButton").isEnabled());
    EXPECT_TRUE(view<QPushButton>("checkButton").isEnabled());
    EXPECT_TRUE(view<QTextEdit>("changelogText").isReadOnly());
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        EXPECT_TRUE(label->textFormat() == Qt::PlainText || label->objectName() == "banner")
            << label->objectName().toStdString();
    }
}

// Nothing is cut off by the window's edge or drawn over another view.
TEST_F(LauncherWindow, ViewsLieInsideTheWindowWithoutOverlapping) {
    const char* const names[] = {
        "titleLabel",   "subtitleLabel",    "taglineLabel", "statusLabel", "progressBar",
        "versionLabel", "notesHeading",     "notesLabel",   "playButton",  "checkButton",
        "footerLabel",  "changelogHeading", "changelogText"};
    const QRect windowFrame(QPoint(0, 0), launcher.widget()->size());
    for (const char* name : names) {
        const QRect frame = view<QWidget>(name).geometry();
        EXPECT_TRUE(windowFrame.contains(frame)) << name;
        for (const char* other : names) {
            EXPECT_TRUE(std::string_view(name) >= other ||
                        !frame.intersects(view<QWidget>(other).geometry()))
                << name << " and " << other;
        }
    }
}

} // namespace
