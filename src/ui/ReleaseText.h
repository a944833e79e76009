#pragma once

#include "formats/Changelog.h"
#include "ui/Palette.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The texts the window builds from release data, as plain values: the styled runs of the
// changelog pane, the release notes and the version line. Pure functions of their arguments;
// callable from any thread. Release text is carried as text, never interpreted as markup.

enum class RunFont {
    Header, // system 12, bold
    Body,   // system 10.5, regular
};

// One stretch of the changelog pane in one font and, unless absent, one colour. A run without
// a colour takes the pane's default text colour.
struct StyledRun {
    std::string text;
    RunFont font = RunFont::Body;
    std::optional<Colour> colour;

    bool operator==(const StyledRun&) const = default;
};

// The changelog as runs: per block a cyan header ("v" + version, the date on a second line when
// there is one), one coloured line per item, then a blank line. An empty list gives the single
// dim run "Changelog unavailable — check your connection.". The pane holds at most
// PaneLineLimit lines and PaneTextLimit bytes of text, whatever the host serves: a changelog
// past either ends at the last run that fits, followed by the dim run PaneCutNote.
std::vector<StyledRun> changelogRuns(const Changelog& entries);

inline constexpr std::size_t PaneLineLimit = 2000;
inline constexpr std::size_t PaneTextLimit = 128 * 1024;
inline constexpr std::string_view PaneCutNote = "The rest of the changelog is not shown.";

// The first block only, at most six items: "v1.4.0   2025-03-02\n\n+  item\n…". An empty list
// gives "No release notes available.". The label shows a few short lines, so each text is cut
// to its first NotesTextLimit bytes (whole characters).
std::string releaseNotesText(const Changelog& entries);

inline constexpr std::size_t NotesTextLimit = 512;

struct VersionLine {
    std::string text;
    Colour colour;
};

// "Installed v1.3.9   ·   Latest v1.4.0" plus the suffix and colour of the state word
// ("UP TO DATE", "UPDATED", "OFFLINE", "ERROR", compared exactly; anything else is neutral).
// An empty version shows as "—".
VersionLine versionLine(const std::string& installed, const std::string& latest,
                        const std::string& state);
