#include "ui/LineLimitedLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

LineLimitedLabel::LineLimitedLabel(int maxLines, QWidget* parent, Overflow overflow)
    : QLabel(parent), maxLines_(maxLines), overflow_(overflow) {
    setTextFormat(Qt::PlainText);
}

template <class Visit> void LineLimitedLabel::forEachVisibleLine(Visit visit) const {
    QTextOption option(alignment());
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const QStringList paragraphs = text().split(QLatin1Char('\n'));
    int shown = 0;
    qreal top = 0;
    for (qsizetype p = 0; p < paragraphs.size() && shown < maxLines_; ++p) {
        QTextLayout layout(paragraphs[p], font());
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
        const int lines = layout.lineCount();
        const bool moreInParagraph = lines > 0 && layout.lineAt(lines - 1).textStart() +
                                                          layout.lineAt(lines - 1).textLength() <
                                                      layout.text().size();
        const bool cut = shown == maxLines_ && (moreInParagraph || p + 1 < paragraphs.size());
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            if (cut && overflow_ == Overflow::Elide && i + 1 == layout.lineCount()) {
                // The rest of the paragraph, shortened to the line's width with "…".
                visit(QFontMetricsF(font()).elidedText(
                          layout.text().mid(line.textStart()).trimmed() + QStringLiteral(" \u2026"),
                          Qt::ElideRight, contentsRect().width()),
                      line, true);
            } else {
                visit(layout.text().mid(line.textStart(), line.textLength()), line, false);
            }
        }
    }
}

QStringList LineLimitedLabel::visibleLines() const {
    QStringList lines;
    forEachVisibleLine(
        [&lines](const QString& text, const QTextLine&, bool) { lines << text.trimmed(); });
    return lines;
}

void LineLimitedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const QPointF origin = contentsRect().topLeft();
    forEachVisibleLine([&painter, origin](const QString& text, const QTextLine& line, bool elided) {
        if (elided) {
            painter.drawText(origin + line.position() + QPointF(0, line.ascent()), text);
        } else {
            line.draw(&painter, origin);
        }
    });
}
