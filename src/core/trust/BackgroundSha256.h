#pragma once

#include "core/trust/Sha256.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Core::Trust {

// SHA-256 of a stream computed on a thread of its own: the download's thread copies the bytes
// over in blocks and goes back to receiving while earlier blocks are hashed, so hashing costs
// the download next to nothing where a core is free. At most a megabyte waits at once; update
// blocks while more would. Called from one thread; the destructor stops and joins the hasher.
// Should hashing fail (OpenSSL out of memory), update or finished throws that on the caller's
// thread.
class BackgroundSha256 {
public:
    BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    void update(std::string_view bytes);
    // Waits until every byte handed over has been hashed, then gives the hash of them all.
    const Sha256& finished();

private:
    // Queues the block being filled for the hasher, once there is room.
    void handOver();
    void hashBlocks(std::stop_token stop);

    std::string filling_; // the caller's block in the making; only touched by the caller

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::string> waiting_;
    std::vector<std::string> spare_; // hashed blocks, kept so their buffers are reused
    std::size_t unhashedBytes_ = 0;  // waiting or being hashed
    std::exception_ptr failure_;     // what ended the hasher, if anything did
    Sha256 hash_;                    // touched by the hasher until unhashedBytes_ is 0
    std::jthread hasher_;            // last: it starts once everything above exists
};

} // namespace Core::Trust
