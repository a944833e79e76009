#pragma once

#include "ui/Palette.h"

#include <QColor>
#include <QFont>

// How the window turns the palette and its type sizes into Qt values. Main thread only (fonts
// need the QApplication).
namespace Theme {

// The colours used once each in the window, outside the shared palette.
inline constexpr Colour titleColour{0.8, 0.96, 1.0};
inline constexpr Colour subtitleColour{0.59, 0.81, 0.91};
inline constexpr Colour taglineColour{0.47, 0.59, 0.71};
inline constexpr Colour paneBorderColour{0.118, 0.173, 0.251};
// The dark appearance's accent: the progress bar's fill and text selection.
inline constexpr Colour accentColour{0.039, 0.518, 1.0};

QColor qColor(const Colour& colour, double alpha = 1.0);

// "rgba(r, g, b, a)" for style sheets.
QString styleColour(const Colour& colour, double alpha = 1.0);

// The system font at a type size given in the window's layout units. The layout's frames are
// measured in device-independent pixels, so a size of 12 yields 12-pixel type whatever the
// screen's nominal dots per inch; at Qt's usual 96 dpi a point is a third larger than a pixel
// and the texts would outgrow their frames.
QFont systemFont(double size, QFont::Weight weight = QFont::Normal);

// The size systemFont was asked for, read back from a font (for checks and tests).
double layoutSize(const QFont& font);

} // namespace Theme
