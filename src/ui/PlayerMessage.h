#pragma once

#include "platform/Error.h"

#include <filesystem>
#include <string>

// What the window says about a failure, in words a player can act on. The error value itself is
// unchanged elsewhere (the self-check prints it whole); these texts are only for the status.

// Why a release could not be fetched or installed; `host` is the release host's name.
std::string playerMessage(const Error& error, const std::string& host);

// Why the game did not start: the executable's name and the reason, short enough for one line.
std::string launchFailureMessage(const Error& error, const std::filesystem::path& executable);
