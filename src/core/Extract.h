#pragma once

#include <filesystem>

namespace Core {

// Unpacks a zip archive into `into`, creating it with its parents. Entries keep their relative
// paths and recorded Unix modes (minus setuid/setgid and the umask); existing files are
// replaced, other files stay. Blocks until done; one unpacking at a time per process.
// Throws: the file-system error when `into` cannot be created (nothing unpacked); otherwise any
// failure, including an unsafe entry (".." or absolute paths, links leading out, hard links,
// devices), is "am" 2 "ditto failed with status 1" with the reason as detail, raised before
// anything is written outside `into`.
void extract(const std::filesystem::path& zip, const std::filesystem::path& into);

} // namespace Core
