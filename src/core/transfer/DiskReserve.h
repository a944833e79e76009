#pragma once

#include <cstdint>
#include <filesystem>

namespace Core::Transfer {

// Keeps a growing download out of the free space its volume keeps in reserve for everything
// else (Install::reserveBytes), so that a host sending without end, or far more than it
// announced, stops with a clear error instead of filling the disk. Free space is measured
// again every few megabytes, so that other writers are noticed, and before any refusal.
// Lives on the download's thread; file-system failures throw "posix" errors.
class DiskReserve {
public:
    // `folder` is where the download grows.
    explicit DiskReserve(std::filesystem::path folder);

    // Throws "am" 9 "not enough disk space: …" when writing `bytes` more would leave less
    // than the reserve free; the figure needed is `bytes` and the reserve.
    void require(std::uint64_t bytes);
    // require(bytes), then counts them as written.
    void claim(std::uint64_t bytes);

private:
    void measure();

    std::filesystem::path folder_;
    bool measured_ = false;
    std::uint64_t reserve_ = 0;
    std::uint64_t free_ = 0; // at the last measuring
    std::uint64_t room_ = 0; // what may still be written before the reserve is touched
    std::uint64_t sinceMeasured_ = 0;
};

} // namespace Core::Transfer
