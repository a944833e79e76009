#pragma once

#include <QLabel>
#include <QStringList>

class QTextLayout;
class QTextLine;

// A plain-text label that wraps at word boundaries within its width and draws at most
// maxLines lines from the top. What does not fit is cut off, or, with Overflow::Elide, the
// last line drawn ends in "…" so that the reader sees that something is missing. text() keeps
// the whole text, so accessibility and tests see everything that was set. Line feeds in the
// text start new lines. Main thread only, like every widget.
class LineLimitedLabel : public QLabel {
public:
    enum class Overflow { Cut, Elide };

    LineLimitedLabel(int maxLines, QWidget* parent, Overflow overflow = Overflow::Cut);

    int maxLines() const { return maxLines_; }

    // The lines drawn for the current text, font and width, top to bottom.
    QStringList visibleLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the text out and calls visit(text, line, elided) for each line that is drawn, where
    // text is what the line shows (shortened with "…" when elided); each line already has its
    // position inside the label.
    template <class Visit> void forEachVisibleLine(Visit visit) const;

    int maxLines_;
    Overflow overflow_;
};
