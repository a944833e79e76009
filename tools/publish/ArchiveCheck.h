#pragma once

#include <filesystem>
#include <string>

namespace Publish {

// Refuses what every launcher would refuse or could not start, with a std::runtime_error naming
// the archive: an archive the launcher cannot read or would not unpack (the launcher's own
// unpacking plan decides, so an unsafe or damaged entry is refused here exactly as there), one
// without the bundle `exe` at its top level, and one whose bundle lacks the file
// <exe>/Contents/MacOS/ASHENMARCH. Reads the headers only; blocks on file reads. Writes nothing
// but an empty temporary folder, removed again, that the plan is made against.
void requireLaunchableArchive(const std::filesystem::path& zip, const std::string& exe);

} // namespace Publish
