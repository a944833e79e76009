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
#include <QTextFrame>
#include <QTimer>

#include <cstdlib>
#include <vector>

namespace {

using LauncherWindow = LauncherFixture;

struct LabelCase {
    const char* name;
    QRect frame;
    QString text;
    double size;
    QFont::Weight weight;
    Colour colour;
};

#ifdef __APPLE__
const QString footerText =
    QStringLiteral("Launcher v1 · installs to ~/Library/Application Support/Ashenmarch");
#else
const QString footerText = QStringLiteral("Launcher v1 · installs to ~/.local/share/Ashenmarch");
#endif

TEST_F(LauncherWindow, LabelsStartWithTheirFrameTextFontAndColour) {
    const std::vector<LabelCase> cases = {
        {"titleLabel", {24, 44, 500, 42}, "ASHENMARCH", 34, QFont::Bold, Theme::titleColour},
        {"subtitleLabel",
         {26, 98, 560, 16},
         "S W A R M   S U R V I V A L      ·      S A L V A G E   R U N",
         9,
         QFont::DemiBold,
         Theme::subtitleColour},
        {"taglineLabel",
         {27, 120, 300, 16},
         "build.  kill.  extract.",
         10,
         QFont::Normal,
         Theme::taglineColour},
        {"statusLabel", {24, 210, 460, 32}, "Checking for updates…", 12, QFont::Normal, themeText},
        {"versionLabel",
         {24, 270, 460, 18},
         "Installed —   ·   Latest —",
         11,
         QFont::DemiBold,
         themeDim},
        {"notesHeading", {24, 302, 300, 14}, "WHAT'S NEW", 9, QFont::Bold, themeCyan},
        {"notesLabel", {24, 320, 460, 92}, "", 11, QFont::Normal, themeText},
        {"footerLabel", {24, 500, 460, 16}, footerText, 9, QFont::Normal, themeDim},
        {"changelogHeading", {500, 206, 236, 14}, "CHANGELOG", 9, QFont::Bold, themeCyan},
    };
    for (const LabelCase& c : cases) {
        const QLabel& label = view<QLabel>(c.name);
        EXPECT_EQ(label.geometry(), c.frame) << c.name;
        EXPECT_EQ(label.text(), c.text) << c.name;
        EXPECT_EQ(label.textFormat(), Qt::PlainText) << c.name;
        EXPECT_DOUBLE_EQ(Theme::layoutSize(label.font()), c.size) << c.name;
        EXPECT_EQ(label.font().weight(), c.weight) << c.name;
        EXPECT_EQ(label.palette().color(QPalette::WindowText), Theme::qColor(c.colour)) << c.name;
        EXPECT_EQ(label.alignment(), Qt::AlignLeft | Qt::AlignTop) << c.name;
    }
    EXPECT_EQ(view<LineLimitedLabel>("statusLabel").maxLines(), 2);
    EXPECT_EQ(view<LineLimitedLabel>("notesLabel").maxLines(), 7);
}

TEST_F(LauncherWindow, ControlsStartInTheirPlacesAndStates) {
    const QWidget& window = *delegate.window();
    EXPECT_EQ(window.windowTitle(), "ASHENMARCH");
    EXPECT_EQ(window.size(), QSize(760, 560));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()); // not resizable
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(view<QWidget>("contentView").geometry(), QRect(0, 0, 760, 560));
    EXPECT_EQ(view<QWidget>("accentRule").geometry(), QRect(0, 200, 760, 3));

    const QLabel& banner = view<QLabel>("banner");
    EXPECT_EQ(banner.geometry(), QRect(0, 0, 760, 200));
    EXPECT_EQ(banner.pixmap().size(), QSize(760, 200)); // compiled in as a resource
    EXPECT_TRUE(banner.hasScaledContents());

    const QProgressBar& bar = view<QProgressBar>("progressBar");
    EXPECT_EQ(bar.geometry(), QRect(24, 254, 460, 10));
    EXPECT_EQ(Views::fraction(bar), 0.0);
    EXPECT_FALSE(bar.isTextVisible());

    const QPushButton& play = view<QPushButton>("playButton");
    EXPECT_EQ(play.geometry(), QRect(24, 422, 220, 46));
    EXPECT_EQ(play.text(), "PLAY");
    EXPECT_FALSE(play.isEnabled());
    EXPECT_DOUBLE_EQ(Theme::layoutSize(play.font()), 15);
    EXPECT_EQ(play.font().weight(), QFont::Bold);

    const QPushButton& check = view<QPushButton>("checkButton");
    EXPECT_EQ(check.geometry(), QRect(256, 432, 110, 28));
    EXPECT_EQ(check.text(), "check again");
    EXPECT_TRUE(check.isEnabled());
    EXPECT_DOUBLE_EQ(Theme::layoutSize(check.font()), 11);
    EXPECT_EQ(check.font().weight(), QFont::Normal);

    const QTextEdit& pane = view<QTextEdit>("changelogText");
    EXPECT_EQ(pane.geometry(), QRect(500, 228, 236, 272));
    EXPECT_TRUE(pane.isReadOnly());
    EXPECT_TRUE(pane.textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(pane.document()->isEmpty());
    const QTextFrameFormat insets = pane.document()->rootFrame()->frameFormat();
    EXPECT_EQ(insets.leftMargin(), 6);
    EXPECT_EQ(insets.rightMargin(), 6);
    EXPECT_EQ(insets.topMargin(), 8);
    EXPECT_EQ(insets.bottomMargin(), 8);
}

TEST_F(LauncherWindow, ControlsCarryAccessibleNames) {
    const std::vector<std::pair<const char*, QString>> names = {
        {"statusLabel", "status"},        {"progressBar", "progress"},
        {"versionLabel", "version line"}, {"notesLabel", "release notes"},
        {"playButton", "PLAY"},           {"checkButton", "check again"},
        {"changelogText", "changelog"},
    };
    for (const auto& [objectName, accessibleName] : names) {
        EXPECT_EQ(view<QWidget>(objectName).accessibleName(), accessibleName) << objectName;
    }
}

TEST_F(LauncherWindow, ClosingTheWindowEndsTheEventLoopAndKeepsTheWindow) {
    QApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, delegate.window(), &QWidget::close);

    // Rather fail than hang; the limit ends with this loop, so it cannot end a later test's.
    EXPECT_EQ(runEventLoop(std::chrono::seconds(10), 1), 0);
    ASSERT_NE(delegate.window(), nullptr);
    EXPECT_FALSE(delegate.window()->isVisible());
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
    const QImage image = delegate.window()->grab().toImage();
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
    ASSERT_TRUE(delegate.window()->grab().save(startPicture));

    installed = "1.3.9";
    delegate.setManifest(manifestOf("1.4.0"));
    const std::vector<ChangelogEntry> changelog = {
        {"1.4.0",
         "2025-03-02",
         {{'+', "New salvage route through the ash fields"},
          {'+', "Swarm waves now scale with extraction time"},
          {'-', "Removed the old loadout menu"},
          {'*', "Balance pass on shredders and arc turrets"}}},
        {"1.3.9", "2025-02-11", {{'*', "Fixed a crash when a run ended during extraction"}}},
        {"1.3.8", "2025-01-20", {{'+', "Arc turret upgrades"}, {'-', "Retired the tutorial map"}}},
    };
    delegate.renderChangelog(changelog);
    delegate.renderNotes(changelog);
    delegate.updateVersionLine("UPDATED");
    delegate.setStatus("Downloading v1.4.0  (150 MB)…");
    delegate.setProgress(0.4);
    runQueuedWork();
    ASSERT_TRUE(
        delegate.window()->grab().save(QDir::current().filePath("launcher-window-filled.png")));
}

} // namespace
