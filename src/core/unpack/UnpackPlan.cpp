#include "core/unpack/UnpackPlan.h"

#include "core/unpack/EntrySafety.h"
#include "core/unpack/UnpackError.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;
using Core::Unpack::EntrySafety::EntryKind;

namespace Core::Unpack {

namespace {

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

std::string joined(const std::vector<std::string_view>& parts) {
    std::string path;
    for (const std::string_view part : parts) {
        path.append(path.empty() ? "" : "/").append(part);
    }
    return path;
}

std::string throughLink(const std::string& linkPath) {
    return "path goes through the symbolic link " + shownName(linkPath);
}

// A path that passes through a symbolic link writes wherever that link points: links already
// in the destination and links earlier in this archive both count. Folders found free of links
// on disk are remembered, so each is looked up once.
class LinkGuard {
public:
    explicit LinkGuard(const DestinationFolder& destination) : destination_(destination) {}

    void addArchiveLink(const std::string& path) { archiveLinks_.insert(path); }

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
    bool contains(const std::string& path) const { return positions_.contains(path); }
    std::vector<PlannedFolder> take() { return std::move(folders_); }

private:
    std::vector<PlannedFolder> folders_;
    std::unordered_map<std::string, std::size_t> positions_;
};

// Keeps only the last entry for each path, in archive order: two threads must never write one
// file.
void dropRepeatedFiles(std::vector<PlannedFile>& files) {
    std::vector<std::size_t> byPath(files.size());
    std::iota(byPath.begin(), byPath.end(), 0);
    std::stable_sort(byPath.begin(), byPath.end(),
                     [&](std::size_t a, std::size_t b) { return files[a].path < files[b].path; });
    std::vector<bool> repeated(files.size(), false);
    for (std::size_t i = 0; i + 1 < byPath.size(); ++i) {
        repeated[byPath[i]] = files[byPath[i]].path == files[byPath[i + 1]].path;
    }
    std::size_t position = 0;
    std::erase_if(files, [&](const PlannedFile&) { return repeated[position++]; });
}

// Takes the entries in archive order, refusing the first unsafe one.
class PlanBuilder {
public:
    explicit PlanBuilder(const DestinationFolder& destination) : guard_(destination) {}

    void add(std::size_t position, archive_entry* entry) {
        const char* rawName = archive_entry_pathname(entry);
        const char* rawTarget = archive_entry_symlink(entry);
        const std::string name = rawName != nullptr ? rawName : "";
        const std::string target = rawTarget != nullptr ? rawTarget : "";
        const EntryKind kind = kindOf(entry);
        std::optional<std::string> refusal = Unpack::EntrySafety::refusal(name, kind, target);
        const std::vector<std::string_view> parts = Unpack::EntrySafety::components(name);
        if (!refusal) {
            refusal = guard_.linkOnTheWay(parts);
        }
        if (refusal) {
            fail("unsafe entry " + shownName(name) + ": " + *refusal);
        }
        if (parts.empty()) {
            return; // the destination itself, which exists
        }
        std::string path = joined(parts);
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            folders_.add(path.substr(0, slash), std::nullopt);
        }
        const auto mode = static_cast<mode_t>(archive_entry_perm(entry) & 0777);
        if (kind == EntryKind::Folder) {
            folders_.add(path, mode);
        } else if (kind == EntryKind::File) {
            std::string recorded = name == path ? std::string() : name;
            const la_int64_t size =
                archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
            files_.push_back({position, std::move(path), std::move(recorded), mode, size});
        } else {
            guard_.addArchiveLink(path);
            links_.push_back({std::move(path), target});
        }
    }

    UnpackPlan finish() {
        // Folders are made first and links last, so a file or link standing where the archive
        // also needs a folder would only clash half-way through writing, and a link that came
        // after the entries passing through it escaped the check above: refuse both now.
        for (const PlannedFile& file : files_) {
            refuseWhereFolder(file.path, "file");
        }
        for (const PlannedLink& link : links_) {
            refuseWhereFolder(link.path, "symbolic link");
        }
        dropRepeatedFiles(files_);
        return {folders_.take(), std::move(files_), std::move(links_)};
    }

private:
    void refuseWhereFolder(const std::string& path, const char* kind) const {
        if (folders_.contains(path)) {
            fail("unsafe entry " + shownName(path) + ": " + kind +
                 " where the archive has a folder");
        }
    }

    LinkGuard guard_;
    FolderList folders_;
    std::vector<PlannedFile> files_;
    std::vector<PlannedLink> links_;
};

} // namespace

UnpackPlan planUnpacking(const fs::path& zip, const DestinationFolder& destination) {
    const Unpack::Archive::Reader reader = openZip(zip);
    PlanBuilder builder(destination);
    for (std::size_t position = 0;; ++position) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) {
            return builder.finish();
        }
        if (status != ARCHIVE_OK) {
            failReading(zip, libraryError(reader.get()));
        }
        builder.add(position, entry);
    }
}

} // namespace Core::Unpack
