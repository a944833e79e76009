#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Free-space checks made before downloading and before unpacking, so a full disk gives a clear
// error up front instead of a half-written file. Blocking file-system calls; any thread.
namespace Core::Install {

// Bytes an unprivileged process may still write on the volume holding `where`, measured at
// the nearest existing ancestor (the install root need not exist yet). Throws the "posix"
// error of statvfs(2).
std::uint64_t freeBytes(const std::filesystem::path& where);

// The free space a download leaves on the volume holding `where` for everything else: 1 % of the
// volume, at most 64 MiB. Throws like freeBytes.
std::uint64_t reserveBytes(const std::filesystem::path& where);

// Throws "am" 9 notEnoughSpaceMessage(neededBytes, freeBytes(where)) when less than
// neededBytes are free; the file-system errors of freeBytes otherwise.
void requireFreeSpace(const std::filesystem::path& where, std::uint64_t neededBytes);

// "not enough disk space: <n> MB needed, <m> MB free", MB being 1,048,576 bytes. Needed is
// rounded up and free down, so the figures never suggest the space would have sufficed.
std::string notEnoughSpaceMessage(std::uint64_t neededBytes, std::uint64_t freeBytes);

} // namespace Core::Install
