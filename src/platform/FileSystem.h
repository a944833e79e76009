#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The file-system operations whose failures the launcher reports: each throws Error with domain
// "posix", the errno, and a message naming the path. Best-effort clean-up and the descriptor-level
// work of downloading and unpacking call the system directly. Paths are absolute or relative to
// the current directory. Stateless; callable from any thread.
namespace FileSystem {

// The user's data folder: macOS ~/Library/Application Support; elsewhere $XDG_DATA_HOME when it
// is set and absolute, else $HOME/.local/share. It need not exist.
std::filesystem::path userDataFolder();

// The value of an environment variable, or nothing when it is unset.
std::optional<std::string> environment(const char* name);

// Creates the folder and every missing parent. An existing folder is fine; a file in the way
// (or no permission) throws.
void createFolder(const std::filesystem::path& folder);

// True for a file or a folder at the path (links are followed); never throws.
bool exists(const std::filesystem::path& path);

// Removes a file, or a folder with everything inside. A missing item throws ENOENT.
void remove(const std::filesystem::path& path);

// Moves an item into place with rename(2). Throws when something already stands at `to` or
// its parent folder is missing.
void move(const std::filesystem::path& from, const std::filesystem::path& to);

// The whole file as text. A missing or unreadable file throws; invalid UTF-8 throws EILSEQ.
std::string readText(const std::filesystem::path& file);

// All-or-nothing replacement: the bytes go to a temporary file in the same folder, are flushed
// and synced, then renamed over the target and the folder is synced. A reader sees the old or
// the new content, never a part. On failure the temporary file is removed and the old content
// stays.
void writeTextAtomically(const std::filesystem::path& file, std::string_view text);

// Waits until every file and folder under `folder` is on the disk, so that a power cut cannot
// leave a name pointing at a file whose bytes never got there. Linux: syncfs(2), one call for
// the folder's whole volume (what else is waiting to be written there goes too); elsewhere each
// file and folder in the tree is fsynced. Throws the error, which may be one of an earlier write.
void syncTree(const std::filesystem::path& folder);

// Waits until the folder's own entries (names created, renamed or removed in it) are on the
// disk. Best effort: never throws.
void syncFolder(const std::filesystem::path& folder);

} // namespace FileSystem
