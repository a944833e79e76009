#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// Each on-disk state an update from 1.0 to 2.0, killed at some step, can leave in an install
// root. The game file of build <v> holds "game <v>" and its file index "index <v>"; every state
// also holds the temporary files of atomic writes cut short. The next run must turn any of them
// into exactly one complete build whose marker and index match it, with no leftovers but a
// patch's staging folder, which the next patch goes on from.
struct Interruption {
    const char* step;
    const char* marker;           // what installed.txt says
    bool pending;                 // installing.txt names 2.0
    bool staged;                  // the new build is complete in the staging folder
    bool oldInBuild;              // build holds 1.0
    bool oldAside;                // build.old holds 1.0
    bool newInBuild;              // build holds 2.0
    const char* recoveredVersion; // what recovery settles on
    int folderMode = -1; // when set, every build holds a folder of this mode with a file inside
    bool reextracting = false; // build holds what a re-extraction killed half-way leaves
    bool patching = false;     // the staging folder is a patch's, with its record
};

// Test names and failure messages show the step, not the record's bytes.
void PrintTo(const Interruption& state, std::ostream* out);

// Every such state, in the order the update's steps run.
const std::vector<Interruption>& everyInterruption();

// Writes the state into `root` (which may not exist yet).
void leaveInterruptedUpdate(const Interruption& state, const std::filesystem::path& root);

// Exactly one complete build in `root`: the marker says `version`, the game file holds
// `gameText`, and nothing of an update is left over (staging folder, set-aside build, pending
// record, archive, temporary names). Records test failures.
void expectOneSettledBuild(const std::filesystem::path& root, const std::string& version,
                           const std::string& gameText);

// The path of the game file inside a build folder.
extern const char* const gameFile;

// Test names from the step: letters, digits and "_" only.
std::string interruptionName(const Interruption& state);
