#pragma once

#include "core/trust/Sha256.h"
#include "core/unpack/BuildItems.h"
#include "core/unpack/DestinationFolder.h"
#include "core/unpack/RecordInflater.h"
#include "formats/FileIndex.h"
#include "platform/UniqueFd.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Fills a staging folder entry by entry from a file index: fetched entries from their records,
// unchanged ones from the installed build. Every item is written under a temporary name in its
// folder and renamed into place only once complete and checked, so a path in staging holds
// either nothing or the right content. Missing parent folders are created; folders are
// reached one name at a time without following links. Modes are the index's minus `umask`.
// Blocking file-system calls; one thread per object, different entries may be staged on
// different threads.
//
// Failures: a fetched entry that is not what the index says (see RecordInflater) or whose
// SHA-256 differs throws "am" 6 "download checksum mismatch" naming the entry; an entry that
// full unpacking would refuse (EntrySafety: its path, a link target leading out) and any
// file-system failure throw the unpacking error "am" 2 with the reason. A temporary item left
// by a failure is removed.
namespace Core::Unpack {

// One fetched file or link being staged from its record.
class StagedEntry {
public:
    StagedEntry(const DestinationFolder& staging, const IndexEntry& entry, mode_t umask);
    ~StagedEntry();
    StagedEntry(const StagedEntry&) = delete;
    StagedEntry& operator=(const StagedEntry&) = delete;

    // The next bytes of the entry's record, in order.
    void feed(std::string_view recordBytes);
    // The record is complete: checks it and its SHA-256 and renames the item into place.
    void commit();

private:
    void write(std::string_view bytes);

    const IndexEntry& entry_;
    mode_t umask_;
    UniqueFd folder_;
    std::string name_;    // the final name in folder_
    std::string partial_; // the temporary name in folder_, while a file is written there
    UniqueFd file_;
    std::string linkTarget_;
    Trust::Sha256 hash_;
    RecordInflater inflater_;
};

// Stages a whole record at once.
void stageRecord(const DestinationFolder& staging, const IndexEntry& entry, std::string_view record,
                 mode_t umask);

// Stages a file or link from the installed build. A file whose mode stays is linked (a second
// name for the same content; nothing the launcher does writes into a file in place, so neither
// name changes through the other); one whose mode changes, or on a file system without such
// links, is cloned where the file system can (copy-on-write), else copied. A link is made again
// with its target. Fails when the installed item is not of the entry's kind and size, or a
// link's target is not the indexed one.
// The chains reach the two builds' folders (see FolderChain); a chain per build serves a whole
// patch's entries, in index order.
void takeInstalled(FolderChain& installed, FolderChain& staging, const IndexEntry& entry,
                   mode_t umask);

// Once every file and link is staged: creates the index's folders that are still missing and
// sets their modes, deepest first (a folder without write permission must be complete).
void finishFolders(const FileIndex& index, const DestinationFolder& staging, mode_t umask);

// Removes the temporary items that staging killed half-way left in `staging` (links in it are
// not followed), before a patch goes on from what is staged. Best effort: never throws.
void removePartialItems(const std::filesystem::path& staging);

// Records in each file entry the modification time of the file at its path, so that a later
// update can tell the file unchanged without reading it. Entries whose item is missing keep
// no stamp.
void recordStamps(FileIndex& index, const DestinationFolder& build);

} // namespace Core::Unpack
