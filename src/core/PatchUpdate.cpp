#include "core/PatchUpdate.h"

#include "core/install/DiskSpace.h"
#include "core/install/InstallStore.h"
#include "core/install/StagedInstall.h"
#include "core/transfer/Fetch.h"
#include "core/transfer/HttpGet.h"
#include "core/trust/Sha256.h"
#include "core/unpack/BuildItems.h"
#include "core/unpack/PatchStaging.h"
#include "core/unpack/ProcessUmask.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <map>
#include <memory>

namespace Core {

namespace {

std::string readRecord(const std::filesystem::path& record) {
    try {
        return FileSystem::readText(record);
    } catch (const Error&) {
        return {};
    }
}

// An index lists every file of a build in a line of about 150 bytes: this is room for half a
// million of them, and far less than memory.
constexpr std::int64_t MaxIndexBytes = 64 * 1024 * 1024;

// Stages each fetched entry as its bytes arrive.
class StagingSink final : public Transfer::SpanSink {
public:
    StagingSink(const FileIndex& next, const Unpack::PatchPlan& plan,
                const Unpack::DestinationFolder& staging, mode_t umask)
        : next_(next), plan_(plan), staging_(staging), umask_(umask) {}

    void write(std::size_t span, std::string_view bytes) override { opened(span).feed(bytes); }
    void finish(std::size_t span) override {
        opened(span).commit();
        open_.erase(span);
    }

private:
    Unpack::StagedEntry& opened(std::size_t span) {
        auto& entry = open_[span];
        if (!entry) {
            entry = std::make_unique<Unpack::StagedEntry>(staging_,
                                                          next_.entries[plan_.fetch[span]], umask_);
        }
        return *entry;
    }

    const FileIndex& next_;
    const Unpack::PatchPlan& plan_;
    const Unpack::DestinationFolder& staging_;
    mode_t umask_;
    std::map<std::size_t, std::unique_ptr<Unpack::StagedEntry>> open_;
};

} // namespace

std::optional<FileIndex> fetchIndex(const Manifest& manifest,
                                    const Transfer::TransferOptions& options) {
    if (manifest.indexUrl.empty() || !Trust::isSha256Hex(manifest.indexSha256)) {
        return std::nullopt;
    }
    const Transfer::FetchedText index =
        Transfer::fetchBounded(manifest.indexUrl, options, MaxIndexBytes);
    if (index.status >= 400) {
        return std::nullopt;
    }
    Trust::Sha256 hash;
    hash.update(index.body);
    Trust::requireChecksum(hash, manifest.indexSha256);
    try {
        return FileIndex::parse(index.body);
    } catch (const FileIndexError&) {
        return std::nullopt;
    }
}

std::int64_t patchBytes(const FileIndex& next, const Unpack::PatchPlan& plan) {
    std::int64_t bytes = 0;
    for (const ByteSpan& range : Transfer::coalesceSpans(plan.spans(next))) {
        bytes += range.length;
    }
    return bytes;
}

bool worthPatching(const FileIndex& next, const Unpack::PatchPlan& plan, std::int64_t archiveSize) {
    return archiveSize > 0 && patchBytes(next, plan) <= archiveSize / 2;
}

Transfer::RangeOutcome
fetchPatch(const Manifest& manifest, const FileIndex& next, const Unpack::PatchPlan& plan,
           const Unpack::DestinationFolder& staging, mode_t umask,
           const Transfer::TransferOptions& options,
           const std::function<void(std::int64_t, std::int64_t)>& onProgress) {
    StagingSink sink(next, plan, staging, umask);
    return Transfer::fetchSpans(manifest.url, manifest.size, plan.spans(next), sink, options,
                                onProgress);
}

PatchInstall::PatchInstall(const Install::InstallLayout& layout, const Manifest& release,
                           const FileIndex& next, bool hashInstalled)
    : layout_(layout), release_(release), next_(next), hashInstalled_(hashInstalled),
      umask_(Unpack::processUmask()) {}

std::optional<std::string> PatchInstall::plan(const std::stop_token& stop) {
    const std::string& record = release_.indexSha256;
    const bool resumed = readRecord(layout_.patchRecordPath()) == record;
    const Unpack::DestinationFolder installed(layout_.buildDir());
    std::optional<Unpack::DestinationFolder> staged;
    if (resumed) {
        Unpack::removePartialItems(layout_.stagingDir());
        staged.emplace(layout_.stagingDir());
    }
    const std::optional<FileIndex> installedIndex =
        hashInstalled_ ? std::nullopt : Install::installedIndex(layout_);
    // Hashing a whole build can take minutes; a closing window must not wait for it.
    const auto stopping = [&stop](std::int64_t) {
        if (stop.stop_requested()) {
            throw Transfer::transferStopped();
        }
    };
    plan_ = Unpack::planPatch(next_, installedIndex ? &*installedIndex : nullptr, installed,
                              stopping, staged ? &*staged : nullptr);
    if (release_.size <= 0) {
        return "the release does not give its archive's size";
    }
    if (!worthPatching(next_, plan_, release_.size)) {
        return "the changes come to more than half of the archive";
    }
    // Fetched and copied files are new bytes on the disk; linked ones are not.
    Install::requireFreeSpace(layout_.root, bytesWritten(installed));
    if (!resumed) {
        Install::discardStagedBuild(layout_);
        FileSystem::createFolder(layout_.stagingDir());
        FileSystem::writeTextAtomically(layout_.patchRecordPath(), record);
    }
    return std::nullopt;
}

bool PatchInstall::fetch(const Transfer::TransferOptions& options,
                         const std::function<void(std::int64_t, std::int64_t)>& onProgress) {
    const Unpack::DestinationFolder staging(layout_.stagingDir());
    const auto progress = [&](std::int64_t received, std::int64_t total) {
        received_ = received;
        if (onProgress) {
            onProgress(received, total);
        }
    };
    if (fetchPatch(release_, next_, plan_, staging, umask_, options, progress) ==
        Transfer::RangeOutcome::RangesUnsupported) {
        Install::discardStagedBuild(layout_);
        return false;
    }
    return true;
}

void PatchInstall::finish() {
    const Unpack::DestinationFolder installed(layout_.buildDir());
    const Unpack::DestinationFolder staging(layout_.stagingDir());
    Unpack::FolderChain installedFolders(installed);
    Unpack::FolderChain stagingFolders(staging);
    for (const std::size_t position : plan_.take) {
        Unpack::takeInstalled(installedFolders, stagingFolders, next_.entries[position], umask_);
    }
    Unpack::finishFolders(next_, staging, umask_);
    // Complete: from here an interruption starts the patch afresh rather than swap in a staged
    // build without its index.
    FileSystem::remove(layout_.patchRecordPath());
}

std::size_t PatchInstall::buildFiles() const {
    return static_cast<std::size_t>(
        std::count_if(next_.entries.begin(), next_.entries.end(),
                      [](const IndexEntry& entry) { return entry.kind != IndexKind::Folder; }));
}

std::uint64_t PatchInstall::bytesWritten(const Unpack::DestinationFolder& installed) const {
    Unpack::FolderChain folders(installed);
    std::uint64_t bytes = 0;
    for (const std::size_t position : plan_.fetch) {
        bytes += static_cast<std::uint64_t>(next_.entries[position].size);
    }
    for (const std::size_t position : plan_.take) {
        const IndexEntry& entry = next_.entries[position];
        const auto item = Unpack::lookAt(folders, entry.path);
        if (entry.kind == IndexKind::File && item && item->mode != (entry.mode & ~umask_)) {
            bytes += static_cast<std::uint64_t>(entry.size);
        }
    }
    return bytes;
}

} // namespace Core
