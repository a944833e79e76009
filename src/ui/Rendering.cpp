#include "ui/AppDelegate.h"
#include "ui/LineLimitedLabel.h"
#include "ui/ReleaseText.h"
#include "ui/Theme.h"
#include "ui/Views.h"

#include <QLabel>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

std::unique_ptr<QTextDocument>
AppDelegate::changelogDocument(const std::vector<ChangelogEntry>& entries) const {
    std::unique_ptr<QTextDocument> document = Views::changelogDocument();
    document->setDefaultFont(changelogBodyFont_);
    QTextCursor cursor(document.get());
    for (const StyledRun& run : changelogRuns(entries)) {
        QTextCharFormat format;
        format.setFont(run.font == RunFont::Header ? changelogHeaderFont_ : changelogBodyFont_);
        if (run.colour) {
            format.setForeground(Theme::qColor(*run.colour));
        }
        cursor.insertText(QString::fromStdString(run.text), format);
    }
    return document;
}

void AppDelegate::showChangelog(std::shared_ptr<QTextDocument> document) {
    // A new document, not an edit of the shown one: the pane lays a new one out a piece at a
    // time between events, but an edit all at once.
    changelogText_->setDocument(document.get());
    changelogDocument_ = std::move(document); // the one shown before goes, now unused
}

void AppDelegate::renderChangelog(const std::vector<ChangelogEntry>& entries) {
    showChangelog(changelogDocument(entries));
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
