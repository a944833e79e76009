#include "core/BackgroundSha256.h"

namespace Core {

namespace {

// Two of libcurl's largest pieces: the hasher outpaces a download, so more would only cost memory.
constexpr std::size_t MaxUnhashedBytes = 1024 * 1024;

} // namespace

BackgroundSha256::BackgroundSha256()
    : hasher_([this](std::stop_token stop) { hashPieces(stop); }) {}

void BackgroundSha256::update(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    std::unique_lock lock(mutex_);
    // A piece larger than the limit still goes, alone, rather than never.
    changed_.wait(lock, [&] {
        return unhashedBytes_ == 0 || unhashedBytes_ + bytes.size() <= MaxUnhashedBytes;
    });
    std::string piece;
    if (!spare_.empty()) {
        piece = std::move(spare_.back());
        spare_.pop_back();
    }
    piece.assign(bytes);
    unhashedBytes_ += piece.size();
    waiting_.push_back(std::move(piece));
    changed_.notify_all();
}

const Sha256& BackgroundSha256::finished() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return unhashedBytes_ == 0; });
    return hash_;
}

void BackgroundSha256::hashPieces(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (changed_.wait(lock, stop, [&] { return !waiting_.empty(); })) {
        std::string piece = std::move(waiting_.front());
        waiting_.pop_front();
        lock.unlock();
        hash_.update(piece);
        lock.lock();
        unhashedBytes_ -= piece.size();
        spare_.push_back(std::move(piece));
        changed_.notify_all();
    }
}

} // namespace Core
