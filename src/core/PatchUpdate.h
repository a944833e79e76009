#pragma once

#include "core/transfer/RangeFetch.h"
#include "core/transfer/Transfer.h"
#include "core/unpack/DestinationFolder.h"
#include "core/unpack/PatchPlan.h"
#include "formats/FileIndex.h"
#include "formats/Manifest.h"

#include <cstdint>
#include <functional>
#include <optional>
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

} // namespace Core
