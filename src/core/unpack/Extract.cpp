#include "core/unpack/Extract.h"

#include "core/unpack/DestinationFolder.h"
#include "core/unpack/ProcessUmask.h"
#include "core/unpack/UnpackFiles.h"
#include "core/unpack/UnpackPlan.h"
#include "core/unpack/Utf8NameLocale.h"
#include "platform/FileSystem.h"

#include <limits>

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

    TreeWriter tree(destination);
    for (const Unpack::PlannedFolder& folder : plan.folders) {
        tree.makeFolder(folder.path);
    }
    Unpack::writeFiles(zip, plan, destination, umask);
    for (const Unpack::PlannedLink& link : plan.links) {
        tree.makeLink(link.path, link.target);
    }
    // Recorded folder modes come last and deepest first: a folder without write permission
    // must be complete before it gets its mode.
    for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder) {
        if (folder->mode) {
            tree.setFolderMode(folder->path, *folder->mode & ~umask);
        }
    }
}

} // namespace Core::Unpack
