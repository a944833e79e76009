#pragma once

#include <filesystem>

// Starts the game from its bundle as an independent process that outlives the launcher, and
// returns once it has started; it never waits for the game.
//
// Linux: runs <bundle>/Contents/MacOS/ASHENMARCH in a session of its own, in that executable's
// folder (so the game finds its files beside it), with standard input and output on /dev/null,
// default signal handling and none of the launcher's other file descriptors. The launcher is
// not its parent, so no zombie is left behind. macOS: asks the workspace service, through
// /usr/bin/open, to open the bundle.
//
// Throws Error ("posix", errno, naming the executable) when the game cannot be started, for
// example a missing executable or one without execute permission. Any thread.
void startGame(const std::filesystem::path& bundle);

// The game's executable inside a bundle: Contents/MacOS/ASHENMARCH, whatever the bundle is called.
std::filesystem::path bundleExecutable(const std::filesystem::path& bundle);
