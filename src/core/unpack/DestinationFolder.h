#pragma once

#include "platform/UniqueFd.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace Core::Unpack {

// The folder an archive is unpacked into, reached only through itself: every folder, file and
// link below it is opened or created relative to it one name at a time, never following a
// symbolic link on the way, so nothing written through it can land outside, whatever appears
// on disk meanwhile. Paths are "/"-separated, relative to the folder and already checked (no
// empty names, ".", ".." or leading "/"). Failures are the unpacking error naming the path.
//
// A DestinationFolder may be shared by threads (it only holds the folder's descriptor); each
// thread writes through a TreeWriter of its own.
class DestinationFolder {
public:
    // Opens the folder; links in its own path are followed (a data folder may sit behind one).
    // Throws the "posix" error naming it.
    explicit DestinationFolder(const std::filesystem::path& folder);

    enum class Found { Nothing, Link, Other };
    // What stands at the path, not following a link there. Nothing also when a parent is
    // missing or not a folder. Links on the way are the caller's to rule out first.
    Found lookup(const std::string& path) const;

    int descriptor() const { return root_.get(); }

private:
    UniqueFd root_;
};

// Writes below a destination from one thread. Keeps the folders on the way to the last one it
// used open: archives list a folder's entries together, so most steps open one folder or none.
//
// Into a fresh destination, files and links are written at their own names. When `replacing`
// (the destination held a tree already), each is written under a temporary name beside its own
// and renamed over it once complete (see Replacement.h); the caller holds the record.
class TreeWriter {
public:
    TreeWriter(const DestinationFolder& destination, bool replacing)
        : destination_(destination), replacing_(replacing) {}

    // Creates the folder with its missing parents (mode 0777 under the umask, as any new
    // folder); a file or link standing at one of them is replaced by a folder. An existing
    // folder its owner may not write into or search (an archive may record 0555 or 0000) is
    // opened up for the owner: the mode it had is returned, for the caller to set again once
    // the folder is complete.
    std::optional<mode_t> makeFolder(std::string_view path);

    // A file being written: at its path, or under a temporary name in the same folder.
    struct NewFile {
        UniqueFd fd;
        std::string temporaryName; // empty when written at its path
    };
    // A new, empty, owner-only file for the path, open for writing; nothing standing at the
    // path is ever written through. Once the caller has written it, set its mode and closed it,
    // placeFile() puts it at the path (replacing a file, link or empty folder there); when
    // writing fails, discardFile() removes a temporary name. The folder must exist.
    NewFile createFile(std::string_view path);
    void placeFile(std::string_view path, const NewFile& file);
    void discardFile(std::string_view path, const NewFile& file);
    // A symbolic link, replacing a file, link or empty folder standing there.
    void makeLink(std::string_view path, const std::string& target);
    // Sets an existing folder's permission bits exactly.
    void setFolderMode(std::string_view path, mode_t mode);

private:
    // The folder at the path, opened (or created) one name at a time; the empty path is the
    // destination. The descriptor stays valid until the next call.
    int reach(std::string_view path, bool create);

    // Renames the temporary name over the path's own, replacing a file, link or empty folder.
    void replaceWith(int folder, const std::string& temporary, std::string_view path);

    const DestinationFolder& destination_;
    const bool replacing_;
    std::vector<std::pair<std::string, UniqueFd>> openFolders_; // each inside the one before
};

} // namespace Core::Unpack
