#pragma once

#include "support/Subprocess.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Root ignores file modes, so work whose outcome depends on them runs as the user nobody
// (65534) when the suite runs as root, in a forked child; under any other user the child keeps
// that user.

// Hands the folder and everything in it to the user such work runs as.
void handToUnprivilegedUser(const std::filesystem::path& folder);

// Runs `work` in such a child and records its assertions' outcome as this test's (the child
// prints its own failures; an exception escaping `work` fails it too). Returns false, and
// records a skip, when privileges cannot be dropped here.
bool runUnprivileged(const std::function<void()>& work);

// Starts a program as that user: through setpriv(1) when root.
std::unique_ptr<Subprocess>
startUnprivileged(const std::filesystem::path& program, std::vector<std::string> arguments,
                  const std::vector<std::pair<std::string, std::string>>& environment);
