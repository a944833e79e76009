#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Decides whether one archive entry may be written under the destination folder from what the
// archive records about it: its name, its kind and its link target. Pure: no file-system
// access and no state, so any thread may call it and fuzzers can feed it anything. What it
// cannot see (a symbolic link already on disk that an entry's path would pass through) the
// unpacker checks against the disk.
namespace Core::Unpack::EntrySafety {

enum class EntryKind {
    File,
    Folder,
    SymbolicLink,
    HardLink,
    Special, // device, FIFO or socket
};

// Why the entry must not be unpacked, or nothing when it is safe. Refused: empty and absolute
// names, ".." components, backslashes or control characters (also in link targets), hard links,
// special files, files or links standing for the destination itself, and symbolic links whose
// target is empty, absolute or leads out of the destination. A target is resolved relative to
// the link's own folder; ".." is followed only before the target's first name, because that
// name may itself be a link and stepping back out of it could land anywhere.
std::optional<std::string> refusal(std::string_view path, EntryKind kind,
                                   std::string_view linkTarget);

// The components of a name without empty ones and ".": "./a//b/" gives {"a", "b"}. The views
// point into `path`.
std::vector<std::string_view> components(std::string_view path);

} // namespace Core::Unpack::EntrySafety
