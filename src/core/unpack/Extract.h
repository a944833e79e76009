#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

// The unpack part: a zip archive into a folder tree, safely. The archive's headers are read and
// every entry checked before anything is written (ZipHeaders, ZipReader, EntrySafety,
// UnpackPlan); files are written only inside the destination (DestinationFolder), on several
// threads (UnpackFiles), and any failure is worded as one error (UnpackError). extract() below
// is the way in; nothing here knows releases or the install layout.
namespace Core::Unpack {

// Unpacks a zip archive into `into`, creating it with its parents. Entries keep their relative
// paths and recorded Unix modes (minus setuid/setgid/sticky and the umask); other files stay.
// Unpacking over an existing tree replaces each file and link through a temporary name and one
// rename, so a kill at any instant leaves each one whole, old or new, with its mode (what a
// kill leaves is for removeUnpackingLeftovers); existing folders the archive closes (0555,
// 0000) are opened up while written into and closed again. Every entry is checked before
// anything is written; files are then inflated on up to as many threads as the machine has
// cores. Blocks until done; unpackings into different folders may run at once.
// Throws: the file-system error when `into` cannot be created or opened (nothing unpacked);
// otherwise any failure is "am" 2 "ditto failed with status 1" with the reason as detail. An
// unsafe entry (".." or absolute paths, links leading out, paths through a link of the archive
// or one already in `into`, hard links, devices) fails before anything is written; a later
// failure (a damaged entry, a full disk) leaves what was written so far for the caller.
//
// `beforeWriting`, when given, runs once every entry has been checked and before any is
// written, with the bytes the entries to be written declare (saturating at the largest value);
// what it throws ends the unpacking there. It saves a second pass over the headers, for a
// free-space check for example.
void extract(const std::filesystem::path& zip, const std::filesystem::path& into,
             const std::function<void(std::uint64_t declaredBytes)>& beforeWriting = {});

} // namespace Core::Unpack
