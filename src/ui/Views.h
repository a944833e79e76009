#pragma once

#include "ui/Palette.h"

#include <QFont>
#include <QRect>
#include <QString>

class QColor;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QWidget;

// Factories for the launcher window's views. Each creates its view as a child of parent at
// frame (measured from the parent's top-left corner, in device-independent pixels) and returns
// it; the parent owns it. Main thread only.
namespace Views {

// A static plain-text label in the system font: left-aligned and drawn from the top of its
// frame, no frame of its own, not editable, not selectable, transparent.
QLabel* label(QWidget* parent, const QString& text, const QRect& frame, double size,
              QFont::Weight weight, const QColor& colour);
// Gives an existing label the same settings as label().
void styleLabel(QLabel& label, const QString& text, const QRect& frame, double size,
                QFont::Weight weight, const QColor& colour);
void setTextColour(QWidget& view, const QColor& colour);

// A plain view filled with one colour (translucent colours blend with what lies below).
QWidget* colourBlock(QWidget* parent, const QRect& frame, const Colour& colour, double alpha = 1.0);

// The banner picture from the application's resources, stretched to the frame on each axis.
// On a high-density screen the resource's "@2x" sibling (twice the size) is used when there is
// one. A missing resource leaves the view empty, so the background shows through.
QLabel* banner(QWidget* parent, const QRect& frame, const QString& resource);

// A determinate bar without text, from 0 (empty) to 1 (full), starting empty.
QProgressBar* progressBar(QWidget* parent, const QRect& frame);
// Shows a fraction on the bar; values outside 0...1 show as empty or full.
void setFraction(QProgressBar& bar, double fraction);
double fraction(const QProgressBar& bar);

// The PLAY button: card-coloured face, a thin cyan border with slightly rounded corners, a
// bold cyan title (dimmed while disabled).
QPushButton* playButton(QWidget* parent, const QRect& frame, const QString& title);

// A borderless button showing only its title, 11 regular in the dim colour.
QPushButton* textButton(QWidget* parent, const QRect& frame, const QString& title);

// The read-only, selectable changelog pane on the panel colour, with a thin border and rounded
// corners, a vertical scroller when needed, and its text inset 6 px sideways and 8 px at top
// and bottom. It never follows links: the text it shows is built from formats, not markup.
QTextEdit* changelogPane(QWidget* parent, const QRect& frame);

} // namespace Views
