#include "core/unpack/VerifyInstall.h"

#include "core/unpack/BuildItems.h"
#include "core/unpack/DestinationFolder.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace fs = std::filesystem;

namespace Core::Unpack {

namespace {

// Every listed path and every folder on the way to one.
std::unordered_set<std::string> expectedPaths(const FileIndex& index) {
    std::unordered_set<std::string> paths;
    for (const IndexEntry& entry : index.entries) {
        paths.insert(entry.path);
        for (std::size_t slash = entry.path.find('/'); slash != std::string::npos;
             slash = entry.path.find('/', slash + 1)) {
            paths.insert(entry.path.substr(0, slash));
        }
    }
    return paths;
}

bool matches(const DestinationFolder& build, const IndexEntry& entry, const BuildItem& item,
             const std::function<void(std::int64_t)>& onHashed) {
    if (item.kind != entry.kind) {
        return false;
    }
    if (entry.kind == IndexKind::Folder) {
        return true;
    }
    if (entry.kind == IndexKind::File && (item.mode & 0100) != (entry.mode & 0100)) {
        return false;
    }
    return hashItem(build, entry, onHashed) == entry.sha256;
}

std::vector<std::string> unlisted(const fs::path& build,
                                  const std::unordered_set<std::string>& expected) {
    std::vector<std::string> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(build, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const std::string path = walk->path().lexically_relative(build).generic_string();
        if (walk.depth() == 0 && path.starts_with(LauncherFilePrefix)) {
            continue;
        }
        if (!expected.contains(path)) {
            found.push_back(path);
            walk.disable_recursion_pending();
        }
    }
    if (error) {
        throw Error::posix(error.value(), "read folder", build);
    }
    return found;
}

enum class Found : char { Intact, Missing, Changed };

// Each entry judged, on as many threads as there are cores (hashing is what takes the time),
// each thread taking the next entry not yet taken. What one thread throws stops them all and
// is rethrown here once they have ended.
std::vector<Found> judgeEntries(const FileIndex& index, const DestinationFolder& folder,
                                const std::function<void(std::int64_t)>& onHashed) {
    std::vector<Found> found(index.entries.size(), Found::Intact);
    std::atomic<std::size_t> next{0};
    std::mutex guard; // onHashed's calls and `failure`
    std::exception_ptr failure;
    const std::function<void(std::int64_t)> report = [&](std::int64_t bytes) {
        const std::lock_guard lock(guard);
        onHashed(bytes);
    };
    const auto judge = [&] {
        try {
            for (std::size_t at = next++; at < found.size(); at = next++) {
                const IndexEntry& entry = index.entries[at];
                const auto item = lookAt(folder, entry.path);
                found[at] = !item ? Found::Missing
                            : matches(folder, entry, *item, onHashed ? report : onHashed)
                                ? Found::Intact
                                : Found::Changed;
            }
        } catch (...) {
            next = found.size();
            const std::lock_guard lock(guard);
            failure = failure ? failure : std::current_exception();
        }
    };
    {
        // More threads than this only queue at the disk.
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        std::vector<std::jthread> helpers(threads - 1);
        for (std::jthread& helper : helpers) {
            helper = std::jthread(judge);
        }
        judge();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return found;
}

} // namespace

InstallCheck verifyInstall(const FileIndex& index, const fs::path& build,
                           const std::function<void(std::int64_t bytes)>& onHashed) {
    const DestinationFolder folder(build);
    InstallCheck check;
    const std::vector<Found> found = judgeEntries(index, folder, onHashed);
    for (std::size_t at = 0; at < found.size(); ++at) {
        if (found[at] != Found::Intact) {
            (found[at] == Found::Missing ? check.missing : check.changed)
                .push_back(index.entries[at].path);
        }
    }
    check.unexpected = unlisted(build, expectedPaths(index));
    for (auto* list : {&check.missing, &check.changed, &check.unexpected}) {
        std::sort(list->begin(), list->end());
    }
    return check;
}

} // namespace Core::Unpack
