#include "ui/AppDelegate.h"
#include "ui/LineLimitedLabel.h"
#include "ui/ReleaseText.h"
#include "ui/Theme.h"
#include "ui/Views.h"

#include <QLabel>
#include <QTextCursor>
#include <QTextEdit>

namespace {

QTextCharFormat runFormat(const StyledRun& run) {
    QTextCharFormat format;
    format.setFont(run.font == RunFont::Header ? Theme::systemFont(12, QFont::Bold)
                                               : Theme::systemFont(10.5, QFont::Normal));
    if (run.colour) {
        format.setForeground(Theme::qColor(*run.colour));
    }
    return format;
}

} // namespace

void AppDelegate::renderChangelog(const std::vector<ChangelogEntry>& entries) {
    // One edit block: the pane lays out and redraws once, and keeps its own settings (insets,
    // colours) because only the text is replaced, not the document.
    QTextCursor cursor(changelogText_->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    for (const StyledRun& run : changelogRuns(entries)) {
        cursor.insertText(QString::fromStdString(run.text), runFormat(run));
    }
    cursor.endEditBlock();
}

void AppDelegate::renderNotes(const std::vector<ChangelogEntry>& entries) {
    notesLabel_->setText(QString::fromStdString(releaseNotesText(entries)));
}

void AppDelegate::updateVersionLine(const std::string& state) {
    const std::optional<Manifest> latest = manifest();
    const VersionLine line =
        versionLine(readInstalledVersion_(), latest ? latest->version : std::string(), state);
    versionLabel_->setText(QString::fromStdString(line.text));
    Views::setTextColour(*versionLabel_, Theme::qColor(line.colour));
}
