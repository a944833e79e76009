#include "core/unpack/PatchPlan.h"

#include "core/unpack/BuildItems.h"
#include "core/unpack/EntrySafety.h"
#include "core/unpack/UnpackError.h"

#include <string_view>
#include <unordered_map>

namespace Core::Unpack {

namespace {

using EntrySafety::EntryKind;

using ByPath = std::unordered_map<std::string_view, const IndexEntry*>;

ByPath byPath(const FileIndex& index) {
    ByPath entries;
    for (const IndexEntry& entry : index.entries) {
        entries.emplace(entry.path, &entry);
    }
    return entries;
}

// The rules full unpacking applies to an archive's names, applied to the index before any
// item is staged: nothing may be written through a link, or below a file, of the index.
void refuseUnsafe(const FileIndex& next, const ByPath& entries) {
    for (const IndexEntry& entry : next.entries) {
        const EntryKind kind = entry.kind == IndexKind::Link     ? EntryKind::SymbolicLink
                               : entry.kind == IndexKind::Folder ? EntryKind::Folder
                                                                 : EntryKind::File;
        auto refusal = EntrySafety::refusal(entry.path, kind, "x");
        for (std::size_t slash = entry.path.find('/'); !refusal && slash != std::string::npos;
             slash = entry.path.find('/', slash + 1)) {
            const auto parent = entries.find(std::string_view(entry.path).substr(0, slash));
            if (parent != entries.end() && parent->second->kind != IndexKind::Folder) {
                refusal = "path goes through the " +
                          std::string(parent->second->kind == IndexKind::Link ? "symbolic link "
                                                                              : "file ") +
                          shownName(parent->second->path);
            }
        }
        if (refusal) {
            fail("unsafe entry " + shownName(entry.path) + ": " + *refusal);
        }
    }
}

bool knownUnchanged(const IndexEntry& entry, const ByPath& installed, FolderChain& build) {
    const auto found = installed.find(entry.path);
    if (found == installed.end()) {
        return false;
    }
    const IndexEntry& before = *found->second;
    if (before.kind != IndexKind::File || entry.kind != IndexKind::File ||
        before.sha256 != entry.sha256 || before.size != entry.size || !before.stamp) {
        return false;
    }
    const auto item = lookAt(build, entry.path);
    return item && item->kind == IndexKind::File && item->size == entry.size &&
           item->modified == *before.stamp;
}

// Looked at before it is hashed: most entries are not staged yet.
bool isStaged(const IndexEntry& entry, const DestinationFolder& staged) {
    const auto item = lookAt(staged, entry.path);
    return item && item->kind == entry.kind && item->size == entry.size &&
           hashItem(staged, entry) == entry.sha256;
}

} // namespace

std::vector<ByteSpan> PatchPlan::spans(const FileIndex& next) const {
    std::vector<ByteSpan> spans;
    spans.reserve(fetch.size());
    for (const std::size_t position : fetch) {
        spans.push_back(next.entries[position].span);
    }
    return spans;
}

PatchPlan planPatch(const FileIndex& next, const FileIndex* installed,
                    const DestinationFolder& installedBuild,
                    const std::function<void(std::int64_t bytes)>& onHashed,
                    const DestinationFolder* staged) {
    refuseUnsafe(next, byPath(next));
    const ByPath before = installed != nullptr ? byPath(*installed) : ByPath();
    FolderChain installedFolders(installedBuild);
    PatchPlan plan;
    for (std::size_t position = 0; position < next.entries.size(); ++position) {
        const IndexEntry& entry = next.entries[position];
        if (entry.kind == IndexKind::Folder || (staged != nullptr && isStaged(entry, *staged))) {
            continue;
        }
        if (knownUnchanged(entry, before, installedFolders) ||
            hashItem(installedBuild, entry, onHashed) == entry.sha256) {
            plan.take.push_back(position);
        } else {
            plan.fetch.push_back(position);
            plan.fetchBytes += entry.span.length;
        }
    }
    return plan;
}

} // namespace Core::Unpack
