#pragma once

#include "core/unpack/DestinationFolder.h"
#include "formats/FileIndex.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Decides how to stage a new build from its file index and the installed build: which files
// and links can be taken from the installed build and which must be fetched from the archive.
// Folders are neither: staging makes them from the index (see finishFolders). Installed items
// the new index does not list are simply never staged.
namespace Core::Unpack {

struct PatchPlan {
    std::vector<std::size_t> take;  // positions in the new index, in its order
    std::vector<std::size_t> fetch; // likewise
    std::int64_t fetchBytes = 0;    // the fetched entries' record spans, added up

    // The fetched entries' record spans, in index order.
    std::vector<ByteSpan> spans(const FileIndex& next) const;
};

// An installed item is taken when its content is known to equal the new entry's: the
// installed index lists the path with the same kind and SHA-256, and the file still has that
// entry's size and recorded modification time (its stamp); failing that (no installed index,
// no stamp, or a file touched since), when hashing the installed item gives the new SHA-256.
// Modes need not match: staging gives every item the new index's mode. Everything else is
// fetched.
//
// With `staged` (what a patch cut short left in the staging folder), an entry whose item there
// hashes to the entry's SHA-256 is neither taken nor fetched: it is staged already.
//
// First refuses a new index that full unpacking would refuse too: an entry EntrySafety refuses
// (link targets are checked when staged), a path that runs through a link or file of the index.
// Throws the unpacking error "am" 2 with "unsafe entry …" as detail. Blocks while hashing;
// `onHashed` gets the bytes of each piece hashed. Reads the installed build only, one name at
// a time without following links on the way.
PatchPlan planPatch(const FileIndex& next, const FileIndex* installed,
                    const DestinationFolder& installedBuild,
                    const std::function<void(std::int64_t bytes)>& onHashed = {},
                    const DestinationFolder* staged = nullptr);

} // namespace Core::Unpack
