#include "ui/LauncherWindow.h"
#include "ui/LineLimitedLabel.h"
#include "ui/ReleaseText.h"
#include "ui/Theme.h"
#include "ui/Views.h"

#include <QLabel>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

// A few panes' worth of text: a slice is inserted and laid out in about a millisecond.
constexpr std::size_t SliceCharacters = 2000;

} // namespace

void LauncherWindow::renderChangelog(const Changelog& entries) {
    showChangelog(std::make_shared<const std::vector<StyledRun>>(changelogRuns(entries)));
}

void LauncherWindow::showChangelog(ChangelogRuns runs) {
    QTextCursor cursor(changelogText_->document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    appendChangelog(runs, 0, ++changelogFill_);
}

void LauncherWindow::appendChangelog(const ChangelogRuns& runs, std::size_t from,
                                     std::uint64_t fill) {
    if (fill != changelogFill_) {
        return;
    }
    QTextCursor cursor(changelogText_->document());
    cursor.movePosition(QTextCursor::End);
    // Only the text is added, never a new document: the pane keeps its insets and colours.
    cursor.beginEditBlock();
    std::size_t next = from;
    for (std::size_t characters = 0; next < runs->size() && characters < SliceCharacters; ++next) {
        const StyledRun& run = (*runs)[next];
        QTextCharFormat format;
        format.setFont(run.font == RunFont::Header ? changelogHeaderFont_ : changelogBodyFont_);
        if (run.colour) {
            format.setForeground(Theme::qColor(*run.colour));
        }
        cursor.insertText(QString::fromStdString(run.text), format);
        characters += run.text.size();
    }
    cursor.endEditBlock();
    if (next < runs->size()) {
        QMetaObject::invokeMethod(
            this, [this, runs, next, fill] { appendChangelog(runs, next, fill); },
            Qt::QueuedConnection);
    }
}

void LauncherWindow::renderNotes(const Changelog& entries) {
    notesLabel_->setText(QString::fromStdString(releaseNotesText(entries)));
}

void LauncherWindow::updateVersionLine(const std::string& state) {
    const std::optional<Manifest> latest = manifest();
    const VersionLine line =
        versionLine(readInstalledVersion_(), latest ? latest->version : std::string(), state);
    versionLabel_->setText(QString::fromStdString(line.text));
    Views::setTextColour(*versionLabel_, Theme::qColor(line.colour));
}
