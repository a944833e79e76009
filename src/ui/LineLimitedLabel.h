#pragma once

#include <QLabel>
#include <QStringList>

class QTextLayout;
class QTextLine;

// A plain-text label that wraps at word boundaries within its width and draws at most
// maxLines lines from the top; whatever follows is cut off without an ellipsis. text() keeps
// the whole text, so accessibility and tests see everything that was set. Line feeds in the
// text start new lines. Main thread only, like every widget.
class LineLimitedLabel : public QLabel {
public:
    LineLimitedLabel(int maxLines, QWidget* parent);

    int maxLines() const { return maxLines_; }

    // The lines drawn for the current text, font and width, top to bottom.
    QStringList visibleLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the text out and calls visit(layout, line) for each line that is drawn; each line
    // already has its position inside the label.
    template <class Visit> void forEachVisibleLine(Visit visit) const;

    int maxLines_;
};
