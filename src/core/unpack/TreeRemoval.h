#pragma once

#include <filesystem>

// Removes what unpacking made, whatever modes the archive gave its folders, and what an
// unpacking killed half-way left behind. Blocking file-system calls; any thread.
namespace Core::Unpack {

// Removes the item at `path` with everything inside. A folder its owner may not write into,
// read or search (an archive may record 0555 or 0000) is opened up for the owner on the way
// down; symbolic links are removed, never followed, so nothing outside the tree changes. Links
// in the path leading to the item are followed. A missing item is no failure. Throws the
// "posix" error naming the first item that could not be removed (one of another user, say),
// after removing everything else it could.
void removeTree(const std::filesystem::path& path);

// Removes the temporary names that unpacking over the tree in `folder` left when it was killed
// (see Replacement.h). Looks only when the tree holds the record, so it costs one lookup after
// an unpacking that ended. Best effort: never throws.
void removeUnpackingLeftovers(const std::filesystem::path& folder);

// Whether removeUnpackingLeftovers would find something to remove in `folder`. Never throws.
bool hasUnpackingLeftovers(const std::filesystem::path& folder);

} // namespace Core::Unpack
