#pragma once

#include "platform/UniqueFd.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

// The folder an archive is unpacked into, reached only through itself: every folder, file and
// link is opened or created relative to it one name at a time, never following a symbolic link
// on the way, so nothing written through it can land outside, whatever appears on disk
// meanwhile. Paths are "/"-separated, relative to the folder and already checked (no empty
// names, ".", ".." or leading "/"). Failures are the unpacking error naming the path.
//
// The object may be shared by threads (it holds only the folder's descriptor); a FileMaker
// belongs to one thread.
class DestinationFolder {
public:
    // Opens the folder; links in its own path are followed (a data folder may sit behind one).
    // Throws the "posix" error naming it.
    explicit DestinationFolder(const std::filesystem::path& folder);

    enum class Found { Nothing, Link, Other };
    // What stands at the path, not following a link there. Nothing also when a parent is
    // missing or not a folder. Links on the way are the caller's to rule out first.
    Found lookup(const std::string& path) const;

    // Creates the folder with its missing parents (mode 0777 under the umask, as any new
    // folder); a file or link standing at one of them is replaced by a folder.
    void makeFolder(std::string_view path) const;
    // Opens an existing folder; the empty path is the destination itself.
    UniqueFd openFolder(std::string_view path) const;
    // Sets a folder's permission bits exactly.
    void setFolderMode(std::string_view path, mode_t mode) const;
    // Creates a symbolic link, replacing a file, link or empty folder standing there.
    void makeLink(std::string_view path, const std::string& target) const;

private:
    UniqueFd root_;
};

// Creates files below the destination, keeping the folder it last wrote into open: archives
// list a folder's files together, so most files need no walk from the top.
class FileMaker {
public:
    explicit FileMaker(const DestinationFolder& destination) : destination_(destination) {}

    // A new, empty file at the path, open for writing; a file, link or empty folder standing
    // there is replaced (removed, never written through).
    UniqueFd create(std::string_view path);

private:
    const DestinationFolder& destination_;
    std::string folderPath_;
    UniqueFd folder_;
};
