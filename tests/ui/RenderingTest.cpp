#include "LauncherFixture.h"
#include "ui/LineLimitedLabel.h"
#include "ui/ReleaseText.h"
#include "ui/Theme.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>

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

QString allRuns(const Changelog& entries) {
    QString text;
    for (const StyledRun& run : changelogRuns(entries)) {
        text += QString::fromStdString(run.text);
    }
    return text;
}

// Each run in its font and colour; the markup-looking item stays text.
TEST_F(Rendering, ChangelogPaneShowsEachRunInItsFontAndColour) {
    const Changelog entries =
        parseChangelog("## 1.4.0 | 2025-03-02\n+ New route\n- Old menu\n* <b>not bold</b>\n");
    launcher.renderChangelog(entries);
    QTextDocument& document = *view<QTextEdit>("changelogText").document();
    EXPECT_EQ(document.toPlainText(), allRuns(entries));
    int position = 0;
    for (const StyledRun& run : changelogRuns(entries)) {
        QTextCursor cursor(&document);
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        const QTextCharFormat format = cursor.charFormat();
        if (run.colour) {
            EXPECT_DOUBLE_EQ(Theme::layoutSize(format.font()),
                             run.font == RunFont::Header ? 12 : 10.5);
            EXPECT_EQ(format.font().bold(), run.font == RunFont::Header) << run.text;
            EXPECT_EQ(format.foreground().color(), Theme::qColor(*run.colour)) << run.text;
        }
        position += static_cast<int>(QString::fromStdString(run.text).size());
    }
}

// The text view is 220 wide inside the pane, less 6 of inset on each side: 208, with or
// without the scroller.
TEST_F(Rendering, ChangelogWrapsAtTheTextViewsWidthWhetherOrNotItScrolls) {
    QTextDocument& document = *view<QTextEdit>("changelogText").document();
    for (const int items : {1, 40}) {
        launcher.renderChangelog(parseChangelog("## 1.0\n" + numberedLines(items) + "+ " +
                                                std::string(60, 'w') + " " + std::string(60, 'w')));
        for (int turn = 0; turn < 20; ++turn) {
            runQueuedWork();
        }
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (int i = 0; i < block.layout()->lineCount(); ++i) {
                EXPECT_DOUBLE_EQ(block.layout()->lineAt(i).width(), 208) << items;
            }
        }
    }
}

// A long changelog fills the pane a slice per turn of the event loop; a newer one arriving
// mid-fill replaces it, and nothing of the older one follows it in.
TEST_F(Rendering, LongChangelogFillsInSlicesAndANewerOneDropsWhatIsLeft) {
    std::string historyText;
    for (int release = 0; release < 200; ++release) {
        historyText += "## 1." + std::to_string(release) + "\n" + numberedLines(6);
    }
    const Changelog history = parseChangelog(historyText);
    QTextDocument& document = *view<QTextEdit>("changelogText").document();
    launcher.renderChangelog(history);
    EXPECT_TRUE(allRuns(history).startsWith(document.toPlainText()));
    EXPECT_LT(document.toPlainText().size(), allRuns(history).size() / 4);
    launcher.renderChangelog(parseChangelog("## 9.9\n" + numberedLines(1)));
    for (int turn = 0; turn < 100; ++turn) {
        runQueuedWork();
    }
    EXPECT_EQ(document.toPlainText(), "v9.9\n  + item 1\n\n");
    launcher.renderChangelog(history);
    for (int turn = 0; turn < 100; ++turn) {
        runQueuedWork();
    }
    EXPECT_EQ(document.toPlainText(), allRuns(history));
}

TEST_F(Rendering, NotesAndStatusKeepToTheirLines) {
    launcher.renderNotes(parseChangelog("## 1.4.0 | 2025-03-02\n" + numberedLines(10)));
    // Header, blank line and five items: the sixth item is cut by the line limit.
    EXPECT_EQ(view<LineLimitedLabel>("notesLabel").visibleLines(),
              (QStringList{"v1.4.0   2025-03-02", "", "+  item 1", "+  item 2", "+  item 3",
                           "+  item 4", "+  item 5"}));

    LineLimitedLabel& status = view<LineLimitedLabel>("statusLabel");
    status.setText("Could not fetch the build.\n" + QString("salvage ").repeated(30));
    const QStringList lines = status.visibleLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Could not fetch the build.");
    EXPECT_TRUE(lines[1].startsWith("salvage salvage"));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("\u2026"))) << "says where it is cut";
}

} // namespace
