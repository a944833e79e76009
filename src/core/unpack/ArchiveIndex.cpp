#include "core/unpack/ArchiveIndex.h"

#include "core/trust/Sha256.h"
#include "core/unpack/DestinationFolder.h"
#include "core/unpack/EntrySafety.h"
#include "core/unpack/RecordInflater.h"
#include "core/unpack/UnpackError.h"
#include "core/unpack/UnpackPlan.h"
#include "core/unpack/Utf8NameLocale.h"
#include "core/unpack/ZipRecords.h"
#include "platform/Error.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <unistd.h>
#include <unordered_set>

namespace fs = std::filesystem;

namespace Core::Unpack {

namespace {

constexpr std::size_t ReadBlock = 1 << 20;

// What full unpacking makes of one path.
struct Unpacked {
    IndexKind kind;
    unsigned mode;
    std::string linkTarget;
};

// An empty folder to plan the unpacking against: nothing on disk can then change the verdict,
// which is the archive's alone. Removed again when the object goes away.
class EmptyFolder {
public:
    EmptyFolder() {
        std::string pattern = (fs::temp_directory_path() / "ashenmarch-publish-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw Error::posix(errno, "create a temporary folder in", fs::temp_directory_path());
        }
        path_ = pattern;
    }
    ~EmptyFolder() { ::rmdir(path_.c_str()); }
    EmptyFolder(const EmptyFolder&) = delete;
    EmptyFolder& operator=(const EmptyFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Full unpacking's plan for the archive, by path: its refusals are the launcher's.
std::map<std::string, Unpacked> unpackedPaths(const fs::path& zip) {
    const EmptyFolder empty;
    const Utf8NameLocale utf8Names;
    const UnpackPlan plan = planUnpacking(zip, DestinationFolder(empty.path()));
    std::map<std::string, Unpacked> paths;
    for (const PlannedFolder& folder : plan.folders) {
        if (folder.mode) {
            paths[folder.path] = {IndexKind::Folder, *folder.mode, {}};
        }
    }
    for (const PlannedFile& file : plan.files) {
        paths[file.path] = {IndexKind::File, file.mode, {}};
    }
    for (const PlannedLink& link : plan.links) {
        paths[link.path] = {IndexKind::Link, 0777, link.target};
    }
    return paths;
}

std::string normalised(std::string_view name) {
    std::string path;
    for (const std::string_view part : EntrySafety::components(name)) {
        path.append(path.empty() ? "" : "/").append(part);
    }
    return path;
}

// Unpacks the entry from its record alone, as a launcher fetching it would, and hashes it.
std::string hashRecord(const ZipFile& archive, const ZipDirectoryEntry& record,
                       const std::string& path, const ByteSpan& span, std::string& content) {
    Core::Trust::Sha256 hash;
    RecordInflater inflater(path, record.size, [&](std::string_view bytes) {
        hash.update(bytes);
        if (content.size() < 4096) {
            content.append(bytes.substr(0, 4096 - content.size()));
        }
    });
    for (std::int64_t done = 0; done < span.length;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::int64_t>(ReadBlock, span.length - done));
        inflater.feed(archive.read(span.offset + done, count));
        done += static_cast<std::int64_t>(count);
    }
    inflater.finish();
    return hash.hexDigest();
}

// Why an entry cannot be indexed; becomes the unpacking error naming the entry.
struct Refusal {
    std::string reason;
};

IndexEntry indexEntry(const ZipFile& archive, const ZipDirectoryEntry& record,
                      const std::string& path, const Unpacked& unpacked) {
    if (record.flags & ZipEncrypted) {
        throw Refusal{"it is encrypted"};
    }
    if (record.method != ZipStored && record.method != ZipDeflated) {
        throw Refusal{"compression method " + std::to_string(record.method) +
                      " (only stored and deflated entries can be fetched alone)"};
    }
    IndexEntry entry{path, unpacked.kind, unpacked.mode, record.size, {}, {}, {}};
    entry.span = archive.recordSpan(record);
    std::string content;
    const std::string sha256 = hashRecord(archive, record, path, entry.span, content);
    if (entry.kind == IndexKind::Link && content != unpacked.linkTarget) {
        throw Refusal{"its link target reads differently on its own"};
    }
    if (entry.kind == IndexKind::Folder && record.size != 0) {
        throw Refusal{"a folder with content"};
    }
    entry.sha256 = entry.kind == IndexKind::Folder ? "" : sha256;
    return entry;
}

} // namespace

FileIndex indexArchive(const fs::path& zip) {
    const std::map<std::string, Unpacked> unpacked = unpackedPaths(zip);
    const ZipFile archive(zip);
    FileIndex index;
    std::unordered_set<std::string> seen;
    for (const ZipDirectoryEntry& record : archive.entries()) {
        const std::string path = normalised(record.name);
        if (path.empty()) {
            continue; // the destination itself
        }
        try {
            const auto found = unpacked.find(path);
            if (!seen.insert(path).second) {
                throw Refusal{"listed twice"};
            }
            if (found == unpacked.end()) {
                throw Refusal{"unpacking reads its name differently"};
            }
            index.entries.push_back(indexEntry(archive, record, path, found->second));
        } catch (const Refusal& refusal) {
            fail("entry " + shownName(record.name) + ": " + refusal.reason);
        } catch (const Error& error) {
            // The inflater's verdicts speak of downloads; here the archive itself is at fault.
            fail(error.detail().value_or("entry " + shownName(record.name) + ": unreadable"));
        }
    }
    return index;
}

} // namespace Core::Unpack
