#include "ui/Views.h"

#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>

#include <cmath>

namespace Views {
namespace {

// The bar counts in thousandths: fine enough for any window width, and an integer as Qt wants.
constexpr int progressSteps = 1000;

constexpr int paneInsetX = 6;
constexpr int paneInsetY = 8;
// The text view inside the pane is narrower than the pane: the scroller has room of its own, so
// the text wraps at the same width whether or not the scroller shows.
constexpr int textViewWidth = 220;

} // namespace

void styleLabel(QLabel& label, const QString& text, const QRect& frame, double size,
                QFont::Weight weight, const QColor& colour) {
    label.setGeometry(frame);
    label.setTextFormat(Qt::PlainText); // release text is shown as written, never as markup
    label.setText(text);
    label.setFont(Theme::systemFont(size, weight));
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label.setTextInteractionFlags(Qt::NoTextInteraction);
    label.setAutoFillBackground(false);
    setTextColour(label, colour);
}

QLabel* label(QWidget* parent, const QString& text, const QRect& frame, double size,
              QFont::Weight weight, const QColor& colour) {
    auto* view = new QLabel(parent);
    styleLabel(*view, text, frame, size, weight, colour);
    return view;
}

void setTextColour(QWidget& view, const QColor& colour) {
    QPalette palette = view.palette();
    palette.setColor(QPalette::WindowText, colour);
    view.setPalette(palette);
}

QWidget* colourBlock(QWidget* parent, const QRect& frame, const Colour& colour, double alpha) {
    auto* view = new QWidget(parent);
    view->setGeometry(frame);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, Theme::qColor(colour, alpha));
    view->setPalette(palette);
    view->setAutoFillBackground(true);
    return view;
}

QLabel* banner(QWidget* parent, const QRect& frame, const QString& resource) {
    auto* view = new QLabel(parent);
    view->setGeometry(frame);
    view->setScaledContents(true);
    // Loaded as an icon, which finds the resource's "@2x" sibling on a screen with two device
    // pixels per point; a plain pixmap load takes the 1x picture, and stretched it blurs.
    const QPixmap picture = QIcon(resource).pixmap(frame.size(), view->devicePixelRatio());
    if (!picture.isNull()) {
        view->setPixmap(picture);
    }
    return view;
}

QProgressBar* progressBar(QWidget* parent, const QRect& frame) {
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(frame);
    bar->setRange(0, progressSteps);
    bar->setValue(0);
    bar->setTextVisible(false);
    // A rounded track a shade above the background with the accent fill, as a dark-appearance
    // bar looks; the style's own groove would vanish against the window.
    bar->setStyleSheet(
        QStringLiteral("QProgressBar { background-color: %1; border: none;"
                       " border-radius: 3px; }"
                       "QProgressBar::chunk { background-color: %2;"
                       " border-radius: 3px; }")
            .arg(Theme::styleColour(themeCard), Theme::styleColour(Theme::accentColour)));
    return bar;
}

void setFraction(QProgressBar& bar, double fraction) {
    // NaN lands on empty; QProgressBar would ignore an out-of-range value instead of showing
    // the bar's end.
    const double clamped = fraction >= 0.0 ? std::fmin(fraction, 1.0) : 0.0;
    bar.setValue(static_cast<int>(std::lround(clamped * progressSteps)));
}

double fraction(const QProgressBar& bar) {
    return static_cast<double>(bar.value()) / progressSteps;
}

QPushButton* playButton(QWidget* parent, const QRect& frame, const QString& title) {
    auto* button = new QPushButton(title, parent);
    button->setGeometry(frame);
    button->setFont(Theme::systemFont(15, QFont::Bold));
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; border: 1px solid %2;"
                       " border-radius: 3px; color: %3; }"
                       "QPushButton:disabled { color: %4; }")
            .arg(Theme::styleColour(themeCard), Theme::styleColour(themeCyan, 0.75),
                 Theme::styleColour(themeCyan), Theme::styleColour(themeCyan, 0.45)));
    return button;
}

QPushButton* textButton(QWidget* parent, const QRect& frame, const QString& title) {
    auto* button = new QPushButton(title, parent);
    button->setGeometry(frame);
    button->setFlat(true);
    button->setFont(Theme::systemFont(11, QFont::Normal));
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: transparent; border: none; color: %1; }")
            .arg(Theme::styleColour(themeDim)));
    return button;
}

QTextEdit* changelogPane(QWidget* parent, const QRect& frame) {
    auto* pane = new QTextEdit(parent);
    pane->setGeometry(frame);
    pane->setReadOnly(true);
    pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    pane->setUndoRedoEnabled(false);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setLineWrapMode(QTextEdit::FixedPixelWidth);
    pane->setLineWrapColumnOrWidth(textViewWidth);
    // The scroller is styled with the pane: a style sheet on the pane would otherwise leave it
    // in the light default look. A slim rounded knob, as on dark macOS.
    pane->setStyleSheet(
        QStringLiteral(
            "QTextEdit { background-color: %1; border: 1px solid %2; border-radius: 4px;"
            " color: %3; }"
            "QScrollBar:vertical { background: transparent; width: 10px; margin: 3px 2px; }"
            "QScrollBar::handle:vertical { background: %4; border-radius: 3px;"
            " min-height: 24px; }"
            "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
            "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(Theme::styleColour(themePanel), Theme::styleColour(Theme::paneBorderColour),
                 Theme::styleColour(themeText), Theme::styleColour(themeDim, 0.6)));

    QTextFrameFormat margins = pane->document()->rootFrame()->frameFormat();
    margins.setLeftMargin(paneInsetX);
    margins.setRightMargin(paneInsetX);
    margins.setTopMargin(paneInsetY);
    margins.setBottomMargin(paneInsetY);
    pane->document()->rootFrame()->setFrameFormat(margins);
    return pane;
}

} // namespace Views
