#include "ui/ReleaseText.h"

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

std::vector<StyledRun> changelogRuns(const std::vector<ChangelogEntry>& entries) {
    if (entries.empty()) {
        return {{"Changelog unavailable — check your connection.", RunFont::Body, themeDim}};
    }
    std::vector<StyledRun> runs;
    for (const ChangelogEntry& entry : entries) {
        std::string header = "v" + entry.version;
        if (!entry.date.empty()) {
            header += "\n" + entry.date;
        }
        runs.push_back({header + "\n", RunFont::Header, themeCyan});
        for (const ChangelogLine& line : entry.lines) {
            std::string text = "  ";
            text += shownMarker(line.kind);
            text += " " + line.text + "\n";
            runs.push_back({std::move(text), RunFont::Body, kindColour(line.kind)});
        }
        runs.push_back({"\n", RunFont::Body, std::nullopt});
    }
    return runs;
}

std::string releaseNotesText(const std::vector<ChangelogEntry>& entries) {
    if (entries.empty()) {
        return "No release notes available.";
    }
    const ChangelogEntry& first = entries.front();
    std::string notes = "v" + first.version;
    if (!first.date.empty()) {
        notes += "   " + first.date;
    }
    notes += "\n\n";
    const std::size_t shown = std::min(first.lines.size(), notesItemLimit);
    for (std::size_t i = 0; i < shown; ++i) {
        notes += shownMarker(first.lines[i].kind);
        notes += "  " + first.lines[i].text + "\n";
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
