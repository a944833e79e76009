#pragma once

#include <span>
#include <string_view>

enum class Mode { Window, SelfCheck, Help, Version, Update, Verify, Repair };

// Chooses the mode from the whole argument list, the program path included. An argument that is
// exactly "--cli" (byte for byte) selects the self-check wherever it stands and whatever else is
// given; otherwise the first of "--help", "--version", "--update", "--verify" and "--repair"
// given selects that mode. Every other argument is ignored: the window opens.
Mode selectMode(std::span<const char* const> arguments);

// The text --help prints: every mode and the environment the launcher reads.
std::string_view usageText();

// The line --version prints: the program's name and version.
std::string_view versionLine();
