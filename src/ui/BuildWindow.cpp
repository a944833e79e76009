#include "ui/LauncherWindow.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Palette.h"
#include "ui/Theme.h"
#include "ui/Views.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextEdit>

// The resources live in a static library, so the linker keeps them only when asked by name.
// The registration must be named outside any namespace.
static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int windowWidth = 760;
constexpr int windowHeight = 560;

// Where the installs go, as the player reads it. It names the platform's usual data folder and
// deliberately not an AM_INSTALL_DIR override, which is for tests and studio machines.
#ifdef __APPLE__
constexpr const char* footerText =
    "Launcher v1 · installs to ~/Library/Application Support/Ashenmarch";
#else
constexpr const char* footerText = "Launcher v1 · installs to ~/.local/share/Ashenmarch";
#endif

void registerResourcesOnce() {
    [[maybe_unused]] static const bool registered = [] {
        registerResources();
        return true;
    }();
}

std::unique_ptr<QWidget> makeWindow() {
    auto window = std::make_unique<QWidget>(
        nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    window->setObjectName(QStringLiteral("launcherWindow"));
    window->setWindowTitle(QStringLiteral("ASHENMARCH"));
    window->setFixedSize(windowWidth, windowHeight);

    // Dark appearance whatever the desktop's theme: text selection, focus and whatever else the
    // style draws by itself take their colours from here.
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Theme::qColor(themeBg));
    palette.setColor(QPalette::WindowText, Theme::qColor(themeText));
    palette.setColor(QPalette::Base, Theme::qColor(themePanel));
    palette.setColor(QPalette::AlternateBase, Theme::qColor(themeCard));
    palette.setColor(QPalette::Text, Theme::qColor(themeText));
    palette.setColor(QPalette::Button, Theme::qColor(themeCard));
    palette.setColor(QPalette::ButtonText, Theme::qColor(themeText));
    palette.setColor(QPalette::Highlight, Theme::qColor(Theme::accentColour));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    window->setPalette(palette);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                                screen->availableGeometry()));
    }
    return window;
}

template <class View>
View* named(View* view, const char* objectName, const char* accessibleName = nullptr) {
    view->setObjectName(QLatin1String(objectName));
    if (accessibleName != nullptr) {
        view->setAccessibleName(QString::fromUtf8(accessibleName));
    }
    return view;
}

} // namespace

void LauncherWindow::buildWindow() {
    using Views::label;
    registerResourcesOnce();
    widget_ = makeWindow();

    QWidget* content =
        named(Views::colourBlock(widget_.get(), {0, 0, windowWidth, windowHeight}, themeBg),
              "contentView");

    named(Views::banner(content, {0, 0, 760, 200}, QStringLiteral(":/banner.png")), "banner");
    named(Views::colourBlock(content, {0, 200, 760, 3}, themeCyan, 0.8), "accentRule");
    named(label(content, QStringLiteral("ASHENMARCH"), {24, 44, 500, 42}, 34, QFont::Bold,
                Theme::qColor(Theme::titleColour)),
          "titleLabel");
    named(label(content,
                QStringLiteral("S W A R M   S U R V I V A L      ·      S A L V A G E   R U N"),
                {26, 98, 560, 16}, 9, QFont::DemiBold, Theme::qColor(Theme::subtitleColour)),
          "subtitleLabel");
    named(label(content, QStringLiteral("build.  kill.  extract."), {27, 120, 300, 16}, 10,
                QFont::Normal, Theme::qColor(Theme::taglineColour)),
          "taglineLabel");

    statusLabel_ = named(new LineLimitedLabel(2, content, LineLimitedLabel::Overflow::Elide),
                         "statusLabel", "status");
    Views::styleLabel(*statusLabel_, QStringLiteral("Checking for updates…"), {24, 210, 460, 32},
                      12, QFont::Normal, Theme::qColor(themeText));

    progressBar_ =
        named(Views::progressBar(content, {24, 254, 460, 10}), "progressBar", "progress");

    versionLabel_ = named(label(content, QStringLiteral("Installed —   ·   Latest —"),
                                {24, 270, 460, 18}, 11, QFont::DemiBold, Theme::qColor(themeDim)),
                          "versionLabel", "version line");

    named(label(content, QStringLiteral("WHAT'S NEW"), {24, 302, 300, 14}, 9, QFont::Bold,
                Theme::qColor(themeCyan)),
          "notesHeading");

    notesLabel_ = named(new LineLimitedLabel(7, content), "notesLabel", "release notes");
    Views::styleLabel(*notesLabel_, QString(), {24, 320, 460, 92}, 11, QFont::Normal,
                      Theme::qColor(themeText));

    playButton_ = named(Views::playButton(content, {24, 422, 220, 46}, QStringLiteral("PLAY")),
                        "playButton", "PLAY");
    connect(playButton_, &QPushButton::clicked, this, &LauncherWindow::playPressed);
    playButton_->setEnabled(false);

    checkButton_ =
        named(Views::textButton(content, {256, 432, 110, 28}, QStringLiteral("check again")),
              "checkButton", "check again");
    connect(checkButton_, &QPushButton::clicked, this, &LauncherWindow::checkAgainPressed);

    named(label(content, QString::fromUtf8(footerText), {24, 500, 460, 16}, 9, QFont::Normal,
                Theme::qColor(themeDim)),
          "footerLabel");
    named(label(content, QStringLiteral("CHANGELOG"), {500, 206, 236, 14}, 9, QFont::Bold,
                Theme::qColor(themeCyan)),
          "changelogHeading");

    changelogHeaderFont_ = Theme::systemFont(12, QFont::Bold);
    changelogBodyFont_ = Theme::systemFont(10.5, QFont::Normal);
    changelogText_ =
        named(Views::changelogPane(content, {500, 228, 236, 272}), "changelogText", "changelog");

    widget_->show();
    widget_->raise();
    widget_->activateWindow();
}
