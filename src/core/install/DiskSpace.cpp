#include "core/install/DiskSpace.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <sys/statvfs.h>

namespace Core::Install {

namespace {

constexpr std::uint64_t bytesPerMB = 1024 * 1024;
constexpr std::uint64_t largestReserve = 64 * bytesPerMB;

std::filesystem::path nearestExistingAncestor(const std::filesystem::path& where) {
    std::filesystem::path candidate = std::filesystem::absolute(where).lexically_normal();
    while (!FileSystem::exists(candidate) && candidate.has_relative_path()) {
        candidate = candidate.parent_path();
    }
    return candidate;
}

struct statvfs volumeStats(const std::filesystem::path& where) {
    const std::filesystem::path volume = nearestExistingAncestor(where);
    struct statvfs stats {};
    if (statvfs(volume.c_str(), &stats) != 0) {
        throw Error::posix(errno, "read free space of", volume);
    }
    return stats;
}

} // namespace

std::uint64_t freeBytes(const std::filesystem::path& where) {
    const struct statvfs stats = volumeStats(where);
    return std::uint64_t{stats.f_bavail} * std::uint64_t{stats.f_frsize};
}

std::uint64_t reserveBytes(const std::filesystem::path& where) {
    const struct statvfs stats = volumeStats(where);
    return std::min(largestReserve, std::uint64_t{stats.f_blocks} * stats.f_frsize / 100);
}

void requireFreeSpace(const std::filesystem::path& where, std::uint64_t neededBytes) {
    const std::uint64_t available = freeBytes(where);
    if (available < neededBytes) {
        throw Error::am(AmCode::NotEnoughSpace, notEnoughSpaceMessage(neededBytes, available));
    }
}

std::string notEnoughSpaceMessage(std::uint64_t neededBytes, std::uint64_t freeBytes) {
    const std::uint64_t neededMB = neededBytes / bytesPerMB + (neededBytes % bytesPerMB != 0);
    return "not enough disk space: " + std::to_string(neededMB) + " MB needed, " +
           std::to_string(freeBytes / bytesPerMB) + " MB free";
}

} // namespace Core::Install
