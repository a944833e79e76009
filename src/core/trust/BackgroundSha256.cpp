#include "core/trust/BackgroundSha256.h"

#include <algorithm>

namespace Core::Trust {

namespace {

// Pieces go over in blocks of this size, whatever size they arrive in (a server writing 64 KB
// at a time gives libcurl pieces that small): the hasher wakes once per block, not per piece.
constexpr std::size_t BlockBytes = 256 * 1024;
// Four blocks: the hasher outpaces a download, so more would only cost memory.
constexpr std::size_t MaxUnhashedBytes = 4 * BlockBytes;

} // namespace

BackgroundSha256::BackgroundSha256()
    : hasher_([this](std::stop_token stop) { hashBlocks(stop); }) {}

void BackgroundSha256::update(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t taken = std::min(bytes.size(), BlockBytes - filling_.size());
        filling_.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (filling_.size() == BlockBytes) {
            handOver();
        }
    }
}

const Sha256& BackgroundSha256::finished() {
    if (!filling_.empty()) {
        handOver();
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return unhashedBytes_ == 0 || failure_; });
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    return hash_;
}

void BackgroundSha256::handOver() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock,
                  [&] { return unhashedBytes_ + filling_.size() <= MaxUnhashedBytes || failure_; });
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    unhashedBytes_ += filling_.size();
    waiting_.push_back(std::move(filling_));
    filling_.clear();
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    } else {
        filling_.reserve(BlockBytes);
    }
    changed_.notify_all();
}

void BackgroundSha256::hashBlocks(std::stop_token stop) {
    // Nothing may leave the thread: that would end the process.
    try {
        std::unique_lock lock(mutex_);
        while (changed_.wait(lock, stop, [&] { return !waiting_.empty(); })) {
            std::string block = std::move(waiting_.front());
            waiting_.pop_front();
            lock.unlock();
            hash_.update(block);
            lock.lock();
            unhashedBytes_ -= block.size();
            block.clear();
            spare_.push_back(std::move(block));
            changed_.notify_all();
        }
    } catch (...) {
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        changed_.notify_all();
    }
}

} // namespace Core::Trust
