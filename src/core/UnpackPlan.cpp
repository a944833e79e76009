#include "core/UnpackPlan.h"

#include "core/EntrySafety.h"
#include "core/UnpackError.h"

#include <archive.h>
#include <archive_entry.h>

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;
using EntrySafety::EntryKind;

namespace Unpack {

namespace {

struct RecordedEntry {
    std::string name;
    EntryKind kind;
    mode_t mode;
    std::string linkTarget;
};

EntryKind kindOf(archive_entry* entry) {
    if (archive_entry_hardlink(entry) != nullptr) {
        return EntryKind::HardLink;
    }
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        return EntryKind::File;
    case AE_IFDIR:
        return EntryKind::Folder;
    case AE_IFLNK:
        return EntryKind::SymbolicLink;
    default:
        return EntryKind::Special;
    }
}

// Reads an entry's data to its end, checksum included, and drops it.
void readThrough(archive* reader, const std::string& name) {
    for (;;) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) {
            return;
        }
        require(status, reader, name);
    }
}

std::vector<RecordedEntry> readHeaders(archive* reader, ZipAccess access, const fs::path& zip) {
    std::vector<RecordedEntry> entries;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF) {
            return entries;
        }
        if (status != ARCHIVE_OK) {
            fail("cannot read archive " + shownName(zip.string()) + ": " + libraryError(reader));
        }
        const char* name = archive_entry_pathname(entry);
        const char* target = archive_entry_symlink(entry);
        entries.push_back({name != nullptr ? name : "", kindOf(entry),
                           static_cast<mode_t>(archive_entry_perm(entry) & 0777),
                           target != nullptr ? target : ""});
        // Without a central directory only the data itself shows where a damaged entry ends;
        // reading it here fails that entry, by name, before anything is written.
        if (access == ZipAccess::Sequential) {
            readThrough(reader, entries.back().name);
        }
    }
}

std::string joined(const std::vector<std::string_view>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
        path.append(i == 0 ? "" : "/").append(parts[i]);
    }
    return path;
}

std::string throughLink(const std::string& linkPath) {
    return "path goes through the symbolic link " + shownName(linkPath);
}

// A path that passes through a symbolic link writes wherever that link points: links of this
// archive (whatever their order, since links are made last) and links already in the
// destination both count. Folders found free of links are remembered, so each is looked up on
// disk once.
class LinkGuard {
public:
    LinkGuard(const DestinationFolder& destination, std::unordered_set<std::string> archiveLinks)
        : destination_(destination), archiveLinks_(std::move(archiveLinks)) {}

    std::optional<std::string> linkOnTheWay(const std::vector<std::string_view>& parts) {
        std::string prefix;
        bool onDisk = true; // below a missing folder nothing can be on disk yet
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            prefix.append(i == 0 ? "" : "/").append(parts[i]);
            if (archiveLinks_.contains(prefix)) {
                return throughLink(prefix);
            }
            if (onDisk && !clear_.contains(prefix)) {
                const DestinationFolder::Found found = destination_.lookup(prefix);
                if (found == DestinationFolder::Found::Link) {
                    return throughLink(prefix);
                }
                onDisk = found == DestinationFolder::Found::Other;
                clear_.insert(prefix);
            }
        }
        return std::nullopt;
    }

private:
    const DestinationFolder& destination_;
    std::unordered_set<std::string> archiveLinks_;
    std::unordered_set<std::string> clear_;
};

// The folders to create, each once, parents first.
class FolderList {
public:
    void add(const std::string& path, std::optional<mode_t> mode) {
        const auto [at, added] = positions_.try_emplace(path, folders_.size());
        if (added) {
            folders_.push_back({path, mode});
        } else if (mode) {
            folders_[at->second].mode = mode;
        }
    }
    std::vector<PlannedFolder> take() { return std::move(folders_); }

private:
    std::vector<PlannedFolder> folders_;
    std::unordered_map<std::string, std::size_t> positions_;
};

// Each entry's checked path; refuses the first unsafe entry in archive order.
std::vector<std::string> checkedPaths(const std::vector<RecordedEntry>& entries,
                                      const DestinationFolder& destination) {
    std::unordered_set<std::string> archiveLinks;
    for (const RecordedEntry& entry : entries) {
        if (entry.kind == EntryKind::SymbolicLink) {
            const auto parts = EntrySafety::components(entry.name);
            archiveLinks.insert(joined(parts, parts.size()));
        }
    }
    LinkGuard guard(destination, std::move(archiveLinks));
    std::vector<std::string> paths;
    paths.reserve(entries.size());
    for (const RecordedEntry& entry : entries) {
        std::optional<std::string> refusal =
            EntrySafety::refusal(entry.name, entry.kind, entry.linkTarget);
        const std::vector<std::string_view> parts = EntrySafety::components(entry.name);
        if (!refusal) {
            refusal = guard.linkOnTheWay(parts);
        }
        if (refusal) {
            fail("unsafe entry " + shownName(entry.name) + ": " + *refusal);
        }
        paths.push_back(joined(parts, parts.size()));
    }
    return paths;
}

} // namespace

UnpackPlan planUnpacking(const fs::path& zip, const DestinationFolder& destination) {
    OpenedZip opened = openZip(zip);
    const std::vector<RecordedEntry> entries = readHeaders(opened.reader.get(), opened.access, zip);
    const std::vector<std::string> paths = checkedPaths(entries, destination);

    std::unordered_map<std::string_view, std::size_t> lastEntryAt;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        lastEntryAt[paths[i]] = i;
    }
    UnpackPlan plan{opened.access, {}, {}, {}};
    FolderList folders;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RecordedEntry& entry = entries[i];
        const std::string& path = paths[i];
        if (path.empty() || lastEntryAt[path] != i) {
            continue; // the destination itself, or named again later
        }
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            folders.add(path.substr(0, slash), std::nullopt);
        }
        if (entry.kind == EntryKind::Folder) {
            folders.add(path, entry.mode);
        } else if (entry.kind == EntryKind::File) {
            plan.files.push_back({i, path, entry.name, entry.mode});
        } else {
            plan.links.push_back({path, entry.linkTarget});
        }
    }
    plan.folders = folders.take();
    return plan;
}

} // namespace Unpack
