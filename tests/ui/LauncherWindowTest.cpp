#include "EventLoop.h"
#include "LauncherFixture.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Theme.h"
#include "ui/Views.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

using LauncherWindow = LauncherFixture;

#ifdef __APPLE__
const QString footerText =
    QStringLiteral("Launcher v1 · installs to ~/Library/Application Support/Ashenmarch");
#else
const QString footerText = QStringLiteral("Launcher v1 · installs to ~/.local/share/Ashenmarch");
#endif

TEST_F(LauncherWindow, StartsWithItsTextsColoursAndControlStates) {
    const struct {
        const char* name;
        QString text;
        Colour colour;
    } labels[] = {
        {"titleLabel", "ASHENMARCH", Theme::titleColour},
        {"subtitleLabel", "S W A R M   S U R V I V A L      ·      S A L V A G E   R U N",
         Theme::subtitleColour},
        {"taglineLabel", "build.  kill.  extract.", Theme::taglineColour},
        {"statusLabel", "Checking for updates…", themeText},
        {"versionLabel", "Installed —   ·   Latest —", themeDim},
        {"notesHeading", "WHAT'S NEW", themeCyan},
        {"notesLabel", "", themeText},
        {"footerLabel", footerText, themeDim},
        {"changelogHeading", "CHANGELOG", themeCyan},
    };
    for (const auto& c : labels) {
        const QLabel& label = view<QLabel>(c.name);
        EXPECT_EQ(label.text(), c.text) << c.name;
        // Texts from the release host must never be read as markup.
        EXPECT_EQ(label.textFormat(), Qt::PlainText) << c.name;
        EXPECT_EQ(label.palette().color(QPalette::WindowText), Theme::qColor(c.colour)) << c.name;
    }
    EXPECT_EQ(view<LineLimitedLabel>("statusLabel").maxLines(), 2);
    EXPECT_EQ(view<LineLimitedLabel>("notesLabel").maxLines(), 7);

    const QWidget& window = *launcher.widget();
    EXPECT_EQ(window.windowTitle(), "ASHENMARCH");
    EXPECT_EQ(window.size(), QSize(760, 560));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()); // not resizable
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(view<QLabel>("banner").pixmap().size(), QSize(760, 200)); // compiled in
    EXPECT_EQ(Views::fraction(view<QProgressBar>("progressBar")), 0.0);
    EXPECT_EQ(view<QPushButton>("playButton").text(), "PLAY");
    EXPECT_FALSE(view<QPushButton>("playButton").isEnabled());
    EXPECT_EQ(view<QPushButton>("checkButton").text(), "check again");
    EXPECT_TRUE(view<QPushButton>("checkButton").isEnabled());
    const QTextEdit& pane = view<QTextEdit>("changelogText");
    EXPECT_TRUE(pane.isReadOnly());
    EXPECT_TRUE(pane.document()->isEmpty());
}

// The frames themselves are the layout's data; what must hold is that nothing is cut off by
// the window's edge or drawn over another view.
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
            if (std::string_view(name) < other) {
                EXPECT_FALSE(frame.intersects(view<QWidget>(other).geometry()))
                    << name << " and " << other;
            }
        }
    }
}

TEST_F(LauncherWindow, ClosingTheWindowEndsTheEventLoopAndKeepsTheWindow) {
    QApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, launcher.widget(), &QWidget::close);

    // Rather fail than hang; the limit ends with this loop, so it cannot end a later test's.
    EXPECT_EQ(runEventLoop(std::chrono::seconds(10), 1), 0);
    ASSERT_NE(launcher.widget(), nullptr);
    EXPECT_FALSE(launcher.widget()->isVisible());
}

TEST(BannerView, MissingPictureLeavesTheAreaEmpty) {
    QWidget parent;
    const QLabel* banner = Views::banner(&parent, {0, 0, 760, 200}, ":/no-such-picture.png");
    EXPECT_TRUE(banner->pixmap().isNull());
    EXPECT_FALSE(banner->autoFillBackground()); // the content background shows through
}

// Expected colour at a window point, the translucent ones already blended.
struct PixelCase {
    const char* what;
    QPoint point;
    QColor colour;
};

QColor blend(const Colour& over, double alpha, const Colour& under) {
    return QColor::fromRgbF(static_cast<float>(over.red * alpha + under.red * (1 - alpha)),
                            static_cast<float>(over.green * alpha + under.green * (1 - alpha)),
                            static_cast<float>(over.blue * alpha + under.blue * (1 - alpha)));
}

bool near(const QColor& a, const QColor& b) {
    constexpr int tolerance = 6;
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST_F(LauncherWindow, DrawsThePaletteWhereTheLayoutPutsIt) {
    const QImage image = launcher.widget()->grab().toImage();
    const std::vector<PixelCase> cases = {
        {"window background", {750, 540}, Theme::qColor(themeBg)},
        {"accent rule", {380, 201}, blend(themeCyan, 0.8, themeBg)},
        {"PLAY face", {40, 430}, Theme::qColor(themeCard)},
        {"PLAY border", {24, 445}, blend(themeCyan, 0.75, themeCard)},
        {"changelog pane", {620, 480}, Theme::qColor(themePanel)},
        {"changelog pane border", {500, 360}, Theme::qColor(Theme::paneBorderColour)},
    };
    for (const PixelCase& c : cases) {
        const QColor seen = image.pixelColor(c.point);
        EXPECT_TRUE(near(seen, c.colour)) << c.what << ": saw " << seen.name().toStdString()
                                          << ", expected " << c.colour.name().toStdString();
    }
}

// Leaves pictures of the window in the test's working folder (the build tree) for people to
// look at; nothing compares them.
TEST_F(LauncherWindow, SavesPicturesOfTheWindow) {
    const QString startPicture = QDir::current().filePath("launcher-window-start.png");
    ASSERT_TRUE(launcher.widget()->grab().save(startPicture));

    installed = "1.3.9";
    launcher.storeManifest(manifestOf("1.4.0"));
    const Changelog changelog =
        parseChangelog("## 1.4.0 | 2025-03-02\n"
                       "+ New salvage route through the ash fields\n"
                       "+ Swarm waves now scale with extraction time\n"
                       "- Removed the old loadout menu\n"
                       "* Balance pass on shredders and arc turrets\n"
                       "## 1.3.9 | 2025-02-11\n"
                       "* Fixed a crash when a run ended during extraction\n"
                       "## 1.3.8 | 2025-01-20\n"
                       "+ Arc turret upgrades\n"
                       "- Retired the tutorial map\n");
    launcher.renderChangelog(changelog);
    launcher.renderNotes(changelog);
    launcher.updateVersionLine("UPDATED");
    launcher.setStatus("Downloading v1.4.0  (150 MB)…");
    launcher.setProgress(0.4);
    runQueuedWork();
    ASSERT_TRUE(
        launcher.widget()->grab().save(QDir::current().filePath("launcher-window-filled.png")));
}

} // namespace
