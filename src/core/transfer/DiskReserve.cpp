#include "core/transfer/DiskReserve.h"

#include "core/install/DiskSpace.h"
#include "platform/Error.h"

#include <utility>

namespace Core::Transfer {

namespace {

// Often enough to notice other writers long before the reserve is gone; rarely enough to cost
// nothing next to the writes themselves.
constexpr std::uint64_t MeasureEvery = 4 * 1024 * 1024;

} // namespace

DiskReserve::DiskReserve(std::filesystem::path folder) : folder_(std::move(folder)) {}

void DiskReserve::require(std::uint64_t bytes) {
    if (!measured_ || sinceMeasured_ >= MeasureEvery || bytes > room_) {
        measure();
    }
    if (bytes > room_) {
        throw Error::am(AmCode::NotEnoughSpace,
                        Install::notEnoughSpaceMessage(bytes + reserve_, free_));
    }
}

void DiskReserve::claim(std::uint64_t bytes) {
    require(bytes);
    room_ -= bytes;
    sinceMeasured_ += bytes;
}

void DiskReserve::measure() {
    if (!measured_) {
        reserve_ = Install::reserveBytes(folder_);
        measured_ = true;
    }
    free_ = Install::freeBytes(folder_);
    room_ = free_ > reserve_ ? free_ - reserve_ : 0;
    sinceMeasured_ = 0;
}

} // namespace Core::Transfer
