#pragma once

#include "core/unpack/DestinationFolder.h"
#include "formats/FileIndex.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

// Looks at the items of a build folder by their index paths, opening one name at a time and
// never following a symbolic link on the way, so a link planted in an installed build cannot
// make the launcher read or write elsewhere. Blocking file-system calls; any thread.
namespace Core::Unpack {

// What stands at a path, as lstat sees it.
struct BuildItem {
    IndexKind kind = IndexKind::File;
    mode_t mode = 0;           // permission bits
    std::int64_t size = 0;     // bytes of a file, length of a link's target
    std::int64_t modified = 0; // nanoseconds since the epoch
};

// The folder at the path below `root` ("" is `root` itself). With `create`, missing folders
// are made (mode 0777 under the umask). An empty descriptor, errno set, when a name on the way
// is missing (without `create`), a link, or not a folder.
UniqueFd openFolderBelow(int root, std::string_view path, bool create = false);

// "a/b/c" gives "a/b" and "c"; a bare name has the empty parent.
std::pair<std::string_view, std::string_view> splitParent(std::string_view path);

// The folders of a build reached by path for many paths in a row, each as openFolderBelow
// reaches it, keeping the chain of folders to the last one open: an index lists a folder's
// entries together, so most paths open nothing. One thread; a descriptor returned stays valid
// until the next call.
class FolderChain {
public:
    explicit FolderChain(const DestinationFolder& root) : root_(root.descriptor()) {}

    // The folder at the path below the root ("" is the root), created with `create` as
    // openFolderBelow does; -1 with errno set where openFolderBelow gives an empty descriptor.
    int reach(std::string_view path, bool create = false);

private:
    int root_;
    std::vector<std::pair<std::string, UniqueFd>> open_; // each inside the one before
};

// Nothing when nothing is there, a parent is missing or not reachable, or the item is neither
// a file, a folder nor a link.
std::optional<BuildItem> lookAt(const DestinationFolder& build, std::string_view path);
std::optional<BuildItem> lookAt(FolderChain& build, std::string_view path);

// The hex SHA-256 of a file's content or a link's target text, or nothing when the item is not
// of the entry's kind or cannot be read. `onHashed` gets the bytes of each piece read.
std::optional<std::string> hashItem(const DestinationFolder& build, const IndexEntry& entry,
                                    const std::function<void(std::int64_t)>& onHashed = {});

} // namespace Core::Unpack
