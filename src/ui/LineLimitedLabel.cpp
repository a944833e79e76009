#include "ui/LineLimitedLabel.h"

#include <QPainter>
#include <QTextLayout>

LineLimitedLabel::LineLimitedLabel(int maxLines, QWidget* parent)
    : QLabel(parent), maxLines_(maxLines) {
    setTextFormat(Qt::PlainText);
}

template <class Visit> void LineLimitedLabel::forEachVisibleLine(Visit visit) const {
    QTextOption option(alignment());
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    int shown = 0;
    qreal top = 0;
    for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font());
        layout.setTextOption(option);
        layout.beginLayout();
        while (shown < maxLines_) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) {
                break;
            }
            line.setLineWidth(contentsRect().width());
            line.setPosition(QPointF(0, top));
            top += line.height();
            ++shown;
        }
        layout.endLayout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            visit(layout, layout.lineAt(i));
        }
        if (shown == maxLines_) {
            return;
        }
    }
}

QStringList LineLimitedLabel::visibleLines() const {
    QStringList lines;
    forEachVisibleLine([&lines](const QTextLayout& layout, const QTextLine& line) {
        lines << layout.text().mid(line.textStart(), line.textLength()).trimmed();
    });
    return lines;
}

void LineLimitedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QPointF origin = contentsRect().topLeft();
    forEachVisibleLine([&painter, origin](const QTextLayout&, const QTextLine& line) {
        line.draw(&painter, origin);
    });
}
