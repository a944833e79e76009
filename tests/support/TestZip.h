#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Writes a zip archive holding the given (name, content) entries in order; a name ending in "/"
// becomes a folder. For tests that only need well-formed archives.
void writeTestZip(const std::filesystem::path& zip,
                  const std::vector<std::pair<std::string, std::string>>& entries);
