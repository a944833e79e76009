#include "ui/Theme.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace Theme {
namespace {

constexpr double pointsPerInch = 72.0;

double screenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
}

} // namespace

QColor qColor(const Colour& colour, double alpha) {
    return QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                            static_cast<float>(colour.blue), static_cast<float>(alpha));
}

QString styleColour(const Colour& colour, double alpha) {
    const QColor c = qColor(colour, alpha);
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(alpha, 0, 'f', 2);
}

QFont systemFont(double size, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(size * pointsPerInch / screenDpi());
    font.setWeight(weight);
    return font;
}

double layoutSize(const QFont& font) {
    return font.pointSizeF() * screenDpi() / pointsPerInch;
}

} // namespace Theme
