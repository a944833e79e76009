#include "core/unpack/Extract.h"

#include "core/unpack/DestinationFolder.h"
#include "core/unpack/ProcessUmask.h"
#include "core/unpack/Replacement.h"
#include "core/unpack/TreeRemoval.h"
#include "core/unpack/UnpackFiles.h"
#include "core/unpack/UnpackPlan.h"
#include "core/unpack/Utf8NameLocale.h"
#include "platform/FileSystem.h"

#include <limits>
#include <optional>
#include <vector>

namespace Core::Unpack {

namespace {

std::uint64_t declaredBytes(const Unpack::UnpackPlan& plan) {
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    for (const Unpack::PlannedFile& file : plan.files) {
        const std::uint64_t size = file.size > 0 ? static_cast<std::uint64_t>(file.size) : 0;
        total = size > most - total ? most : total + size;
    }
    return total;
}

} // namespace

// Nothing beyond the mode is restored (no owner, times, ACL, extended attributes or file
// flags); files are written by this code rather than libarchive's disk writer, which changes
// the process's umask around every entry and so cannot run on two threads at once.
void extract(const std::filesystem::path& zip, const std::filesystem::path& into,
             const std::function<void(std::uint64_t declaredBytes)>& beforeWriting) {
    FileSystem::createFolder(into);
    const DestinationFolder destination(into);
    const Utf8NameLocale utf8Names;
    const Unpack::UnpackPlan plan = Unpack::planUnpacking(zip, destination);
    if (beforeWriting) {
        beforeWriting(declaredBytes(plan));
    }
    const mode_t umask = processUmask();

    // A fresh folder (the usual staging folder) has nothing to keep whole while it is written:
    // only over an existing tree do files take the detour through temporary names.
    std::error_code unknown;
    const bool replacing = !std::filesystem::is_empty(into, unknown) || unknown;
    std::optional<ReplacementRecord> record;
    if (replacing) {
        Unpack::removeUnpackingLeftovers(into);
        record.emplace(destination);
    }
    TreeWriter tree(destination, replacing);
    std::vector<std::optional<mode_t>> folderModes; // each planned folder's final mode, if any
    folderModes.reserve(plan.folders.size());
    for (const Unpack::PlannedFolder& folder : plan.folders) {
        const std::optional<mode_t> found = tree.makeFolder(folder.path);
        folderModes.push_back(folder.mode ? *folder.mode & ~umask : found);
    }
    Unpack::writeFiles(zip, plan, destination, umask, replacing);
    for (const Unpack::PlannedLink& link : plan.links) {
        tree.makeLink(link.path, link.target);
    }
    // Folder modes come last and deepest first: a folder without write permission must be
    // complete before it gets its mode.
    for (std::size_t i = plan.folders.size(); i-- > 0;) {
        if (folderModes[i]) {
            tree.setFolderMode(plan.folders[i].path, *folderModes[i]);
        }
    }
}

} // namespace Core::Unpack
