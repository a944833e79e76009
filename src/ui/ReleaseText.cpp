#include "ui/ReleaseText.h"

#include "formats/Text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace {

constexpr std::size_t notesItemLimit = 6;

// Kinds other than '-' and '+' are shown as '*', whatever the parser may ever hand over.
char shownMarker(char kind) {
    return kind == '+' || kind == '-' ? kind : '*';
}

Colour kindColour(char kind) {
    switch (kind) {
    case '+':
        return themeGreen;
    case '-':
        return themeRed;
    default:
        return themeAmber;
    }
}

// Keeps runs while the pane's limits allow, then adds the note once and refuses the rest.
class PaneRuns {
public:
    bool add(StyledRun run) {
        const auto lines =
            static_cast<std::size_t>(std::count(run.text.begin(), run.text.end(), '\n'));
        if (full_ || lines_ + lines > PaneLineLimit || text_ + run.text.size() > PaneTextLimit) {
            if (!full_) {
                runs_.push_back({std::string(PaneCutNote), RunFont::Body, themeDim});
                full_ = true;
            }
            return false;
        }
        lines_ += lines;
        text_ += run.text.size();
        runs_.push_back(std::move(run));
        return true;
    }
    std::vector<StyledRun> take() { return std::move(runs_); }

private:
    std::vector<StyledRun> runs_;
    std::size_t lines_ = 0;
    std::size_t text_ = 0;
    bool full_ = false;
};

std::string versionPart(const std::string& version) {
    return version.empty() ? "—" : "v" + version;
}

struct StateLook {
    std::string_view state;
    std::string_view suffix;
    Colour colour;
};

constexpr std::array stateLooks{
    StateLook{"UP TO DATE", "   ·   up to date", themeGreen},
    StateLook{"UPDATED", "   ·   updated", themeGreen},
    StateLook{"OFFLINE", "   ·   offline", themeAmber},
    StateLook{"ERROR", "   ·   error", themeRed},
};

} // namespace

std::vector<StyledRun> changelogRuns(const Changelog& entries) {
    if (entries.empty()) {
        return {{"Changelog unavailable — check your connection.", RunFont::Body, themeDim}};
    }
    PaneRuns runs;
    for (const ChangelogEntry& entry : entries) {
        std::string header = "v" + std::string(entry.version);
        if (!entry.date.empty()) {
            header.append("\n").append(entry.date);
        }
        if (!runs.add({header + "\n", RunFont::Header, themeCyan})) {
            break;
        }
        for (const ChangelogLine line : entry.lines) {
            std::string text = "  ";
            text.append(1, shownMarker(line.kind)).append(" ").append(line.text).append("\n");
            if (!runs.add({std::move(text), RunFont::Body, kindColour(line.kind)})) {
                break;
            }
        }
        if (!runs.add({"\n", RunFont::Body, std::nullopt})) {
            break;
        }
    }
    return runs.take();
}

std::string releaseNotesText(const Changelog& entries) {
    if (entries.empty()) {
        return "No release notes available.";
    }
    const ChangelogEntry first = entries.front();
    std::string notes = "v" + std::string(Text::cutToBytes(first.version, NotesTextLimit));
    if (!first.date.empty()) {
        notes.append("   ").append(Text::cutToBytes(first.date, NotesTextLimit));
    }
    notes += "\n\n";
    std::size_t shown = 0;
    for (auto line = first.lines.begin(); line != first.lines.end() && shown < notesItemLimit;
         ++line, ++shown) {
        notes.append(1, shownMarker((*line).kind))
            .append("  ")
            .append(Text::cutToBytes((*line).text, NotesTextLimit))
            .append("\n");
    }
    return notes;
}

VersionLine versionLine(const std::string& installed, const std::string& latest,
                        const std::string& state) {
    VersionLine line{"Installed " + versionPart(installed) + "   ·   Latest " + versionPart(latest),
                     themeDim};
    const auto look = std::find_if(stateLooks.begin(), stateLooks.end(),
                                   [&state](const StateLook& look) { return look.state == state; });
    if (look != stateLooks.end()) {
        line.text += look->suffix;
        line.colour = look->colour;
    }
    return line;
}
