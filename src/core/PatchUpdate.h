#pragma once

#include "core/install/InstallLayout.h"
#include "core/transfer/RangeFetch.h"
#include "core/transfer/Transfer.h"
#include "core/unpack/DestinationFolder.h"
#include "core/unpack/PatchPlan.h"
#include "formats/FileIndex.h"
#include "formats/Manifest.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <sys/types.h>

// The release steps of a patch update: the file index, the decision to patch at all, and the
// fetching of the entries the installed build lacks. Staging and swapping in are the same as
// for a full update. Every call blocks the calling thread and throws Error; any thread.
namespace Core {

// The manifest's file index, fetched and checked against macindexsha256. Nothing when the
// manifest names no index or no usable checksum for it (an index nothing pins is never
// trusted), when the host answers 400 or more for it, or when its text is malformed: the
// update then downloads the whole archive. A body whose SHA-256 differs is "am" 6 "download
// checksum mismatch": tampering is reported, never papered over by the full download. Past
// 64 MiB the fetch stops with "am" 12. Transfer errors as httpGet.
std::optional<FileIndex> fetchIndex(const Manifest& manifest,
                                    const Transfer::TransferOptions& options);

// The bytes fetching the plan's entries takes: their ranges, gaps between nearby ones included.
std::int64_t patchBytes(const FileIndex& next, const Unpack::PatchPlan& plan);

// Whether fetching the plan's ranges (gaps between nearby entries included) costs at most half
// of the archive; past that the full download is the better deal. False when the archive's
// size is not known.
bool worthPatching(const FileIndex& next, const Unpack::PatchPlan& plan, std::int64_t archiveSize);

// Fetches the plan's entries from the archive with range requests and stages each into
// `staging` as it arrives (Unpack::StagedEntry: inflated, checked, renamed into place), so no
// entry is held whole in memory. RangesUnsupported when the host cannot serve ranges, which
// the caller answers with the full download. Errors are those of Transfer::fetchSpans and
// Unpack::StagedEntry. `onProgress` gets bytes received and the total of all ranges.
Transfer::RangeOutcome
fetchPatch(const Manifest& manifest, const FileIndex& next, const Unpack::PatchPlan& plan,
           const Unpack::DestinationFolder& staging, mode_t umask,
           const Transfer::TransferOptions& options,
           const std::function<void(std::int64_t, std::int64_t)>& onProgress = {});

// A patch from the installed build to a release, staged into the layout's staging folder. The
// steps in order: plan, fetch, finish; then the caller checks the staged bundle and swaps it in
// as after a full download (see StagedInstall), the release's index written in first
// (Install::keepIndex). The installed build is only read.
//
// While a patch is staged, the staging folder holds a record naming the release's index; a
// patch cut short (a failure, a stop, a crash) leaves it, and the next patch to the same index
// goes on from what is staged (recovery keeps such a folder). Blocks; throws Error. The caller
// holds the install lock.
class PatchInstall {
public:
    // `hashInstalled`: take nothing on the word of the installed index, hash every file.
    PatchInstall(const Install::InstallLayout& layout, const Manifest& release,
                 const FileIndex& next, bool hashInstalled);

    // Decides what to take and what to fetch, and readies the staging folder. Returns why the
    // whole archive is the better way (the archive's size unknown, or the patch more than half
    // of it), else nothing. Throws "am" 9 when the disk cannot hold what the patch writes, "am"
    // 2 for an index that unpacking would refuse; a stop request ends the hashing of installed
    // files with Transfer::transferStopped().
    std::optional<std::string> plan(const std::stop_token& stop);
    // Fetches the planned entries into staging; false when the host cannot serve ranges, the
    // staging folder then cleared for the whole archive. `onProgress` as fetchPatch's.
    bool fetch(const Transfer::TransferOptions& options,
               const std::function<void(std::int64_t, std::int64_t)>& onProgress);
    // Stages the entries taken from the installed build and the folders.
    void finish();

    std::size_t fetchedFiles() const { return plan_.fetch.size(); }
    std::size_t buildFiles() const;
    std::int64_t plannedBytes() const { return patchBytes(next_, plan_); }
    std::int64_t receivedBytes() const { return received_; }

private:
    std::uint64_t bytesWritten(const Unpack::DestinationFolder& installed) const;

    const Install::InstallLayout& layout_;
    const Manifest& release_;
    const FileIndex& next_;
    bool hashInstalled_;
    mode_t umask_;
    Unpack::PatchPlan plan_;
    std::int64_t received_ = 0;
};

} // namespace Core
