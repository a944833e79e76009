#pragma once

#include "core/unpack/DestinationFolder.h"
#include "core/unpack/ZipReader.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What unpacking an archive will create, decided from its headers before anything is written.
// Every entry has passed the safety checks: its own name, kind and link target (EntrySafety),
// no path through a symbolic link of the archive or one already in the destination, no link
// where the archive has a folder. Paths are "/"-separated and relative to the destination; when
// the archive names one file twice, the later entry wins. Modes are the recorded permission
// bits without setuid, setgid and sticky, before the umask.
namespace Core::Unpack {

struct PlannedFolder {
    std::string path;
    std::optional<mode_t> mode; // recorded; nothing for a folder only implied by deeper entries
};

struct PlannedFile {
    std::size_t entry; // position among the archive's entries, in the reader's order
    std::string path;
    std::string name; // as recorded when that differs from the path (kept small for builds
                      // of many files)
    mode_t mode;
    std::int64_t size; // unpacked bytes as recorded, 0 when the archive does not say

    // The name as recorded, for messages and to recognise the entry again.
    const std::string& recordedName() const { return name.empty() ? path : name; }
};

struct PlannedLink {
    std::string path;
    std::string target;
};

struct UnpackPlan {
    std::vector<PlannedFolder> folders; // parents before their children
    std::vector<PlannedFile> files;     // in archive order
    std::vector<PlannedLink> links;
};

// Reads every header of the archive (entry data is passed over, never inflated) on the calling
// thread, whose character type must be UTF-8 for non-ASCII names. Throws the unpacking error:
// "cannot read archive …" for an archive without a readable central directory or with a damaged
// header, or "unsafe entry …: <reason>" for the first refused entry in archive order (a link
// that entries before it went through is refused at the end).
UnpackPlan planUnpacking(const std::filesystem::path& zip, const DestinationFolder& destination);

} // namespace Core::Unpack
