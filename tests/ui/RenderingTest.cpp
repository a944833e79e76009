#include "LauncherFixture.h"
#include "ui/LineLimitedLabel.h"
#include "ui/ReleaseText.h"
#include "ui/Theme.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextLayout>

#include <vector>

namespace {

using Rendering = LauncherFixture;

// "+ item 1\n+ item 2\n…"
std::string numberedLines(int count) {
    std::string lines;
    for (int i = 1; i <= count; ++i) {
        lines += "+ item " + std::to_string(i) + "\n";
    }
    return lines;
}

// The character format of the character at position.
QTextCharFormat formatAt(QTextDocument& document, int position) {
    QTextCursor cursor(&document);
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    return cursor.charFormat();
}

TEST_F(Rendering, ChangelogPaneShowsEachRunInItsFontAndColour) {
    const Changelog entries =
        parseChangelog("## 1.4.0 | 2025-03-02\n+ New route\n- Old menu\n* <b>not bold</b>\n##\n" +
                       numberedLines(10));
    launcher.renderChangelog(entries);

    QTextDocument& document = *view<QTextEdit>("changelogText").document();
    QString expected;
    for (const StyledRun& run : changelogRuns(entries)) {
        expected += QString::fromStdString(run.text);
    }
    // The markup-looking item stays text: the pane never reads markup.
    EXPECT_EQ(document.toPlainText(), expected);
    EXPECT_TRUE(document.toPlainText().contains("  + item 10\n"));

    int position = 0;
    for (const StyledRun& run : changelogRuns(entries)) {
        if (run.text != "\n") {
            const QTextCharFormat format = formatAt(document, position);
            const QString shown = QString::fromStdString(run.text);
            EXPECT_DOUBLE_EQ(Theme::layoutSize(format.font()),
                             run.font == RunFont::Header ? 12 : 10.5)
                << run.text;
            EXPECT_EQ(format.font().bold(), run.font == RunFont::Header) << run.text;
            ASSERT_TRUE(run.colour.has_value()) << run.text;
            EXPECT_EQ(format.foreground().color(), Theme::qColor(*run.colour)) << run.text;
        }
        position += static_cast<int>(QString::fromStdString(run.text).size());
    }
}

// The widths of the laid-out lines of every block.
std::vector<double> lineWidths(QTextDocument& document) {
    std::vector<double> widths;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (int i = 0; i < block.layout()->lineCount(); ++i) {
            widths.push_back(block.layout()->lineAt(i).width());
        }
    }
    return widths;
}

// The text view is 220 wide inside the pane, less 6 of inset on each side: 208, with or
// without the scroller.
TEST_F(Rendering, ChangelogWrapsAtTheTextViewsWidthWhetherOrNotItScrolls) {
    const std::string longItem(60, 'w');
    QTextDocument& document = *view<QTextEdit>("changelogText").document();
    for (const int items : {1, 40}) {
        launcher.renderChangelog(
            parseChangelog("## 1.0\n" + numberedLines(items) + "+ " + longItem + " " + longItem));
        for (int turn = 0; turn < 20; ++turn) {
            runQueuedWork();
        }
        for (const double width : lineWidths(document)) {
            EXPECT_DOUBLE_EQ(width, 208) << items;
        }
    }
}

TEST_F(Rendering, ChangelogReplacesEverythingAndKeepsThePaneSettings) {
    launcher.renderChangelog(parseChangelog("## 1.0\n" + numberedLines(3)));
    launcher.renderChangelog({});

    QTextDocument& document = *view<QTextEdit>("changelogText").document();
    EXPECT_EQ(document.toPlainText(), "Changelog unavailable — check your connection.");
    EXPECT_EQ(formatAt(document, 0).foreground().color(), Theme::qColor(themeDim));
    EXPECT_EQ(document.rootFrame()->frameFormat().leftMargin(), 6);
    EXPECT_EQ(document.rootFrame()->frameFormat().topMargin(), 8);
}

TEST_F(Rendering, LongChangelogFillsInSlicesAndANewerOneDropsWhatIsLeft) {
    std::string historyText;
    for (int release = 0; release < 200; ++release) {
        historyText += "## 1." + std::to_string(release) + " | 2025-01-01\n" + numberedLines(6);
    }
    const Changelog history = parseChangelog(historyText);
    QString whole;
    for (const StyledRun& run : changelogRuns(history)) {
        whole += QString::fromStdString(run.text);
    }
    QTextDocument& document = *view<QTextEdit>("changelogText").document();

    launcher.renderChangelog(history);
    EXPECT_TRUE(whole.startsWith(document.toPlainText()));
    EXPECT_LT(document.toPlainText().size(), whole.size() / 4);
    // A newer changelog mid-fill: nothing of the older one may follow it in.
    launcher.renderChangelog(parseChangelog("## 9.9\n" + numberedLines(1)));
    for (int turn = 0; turn < 100; ++turn) {
        runQueuedWork();
    }
    EXPECT_EQ(document.toPlainText(), "v9.9\n  + item 1\n\n");

    launcher.renderChangelog(history);
    for (int turn = 0; turn < 100; ++turn) {
        runQueuedWork();
    }
    EXPECT_EQ(document.toPlainText(), whole);
}

TEST_F(Rendering, NotesShowAtMostSevenLines) {
    launcher.renderNotes(parseChangelog("## 1.4.0 | 2025-03-02\n" + numberedLines(10)));

    const LineLimitedLabel& notes = view<LineLimitedLabel>("notesLabel");
    // Header, blank line and five items: the sixth item is cut by the line limit.
    const QStringList expected = {"v1.4.0   2025-03-02", "",          "+  item 1", "+  item 2",
                                  "+  item 3",           "+  item 4", "+  item 5"};
    EXPECT_EQ(notes.visibleLines(), expected);

    launcher.renderNotes({});
    EXPECT_EQ(notes.text(), "No release notes available.");
}

TEST_F(Rendering, LongStatusWrapsToTwoLinesAtMostAndSaysWhereItIsCut) {
    QString sentence;
    for (int i = 0; i < 30; ++i) {
        sentence += QStringLiteral("salvage ");
    }
    LineLimitedLabel& status = view<LineLimitedLabel>("statusLabel");
    status.setText("Could not fetch the build.\n" + sentence);

    const QStringList lines = status.visibleLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Could not fetch the build.");
    EXPECT_TRUE(lines[1].startsWith("salvage salvage"));
    EXPECT_LT(lines[1].size(), sentence.trimmed().size()); // wrapped, the rest is cut
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("\u2026"))) << lines[1].toStdString();
}

} // namespace
