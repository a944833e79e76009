#include "core/Extract.h"

#include "core/ArchiveHandle.h"
#include "core/EntrySafety.h"
#include "core/Utf8NameLocale.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using EntrySafety::EntryKind;

namespace Core {

namespace {

// The writer's own guards back up the checks made here before every entry. Its guard against
// absolute names cannot be used: entries reach it as absolute paths under the resolved
// destination, because pointing it at the destination would mean changing the process's working
// folder under the window's threads. Nothing beyond the mode is restored (no owner, ACL,
// extended attributes or file flags), and the mode loses setuid, setgid, sticky and the umask.
constexpr int DiskWriterFlags = ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT;

// Builds run to hundreds of megabytes; large reads keep the system calls few.
constexpr std::size_t ReadBlockSize = 1 << 20;

[[noreturn]] void fail(std::string reason) {
    throw Error::am(AmCode::UnpackFailed, "ditto failed with status 1", std::move(reason));
}

// Names end up in a report line; control bytes are shown escaped, never sent to a terminal.
std::string shownName(std::string_view name) {
    std::string text = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

std::string libraryError(archive* handle) {
    const char* text = archive_error_string(handle);
    return text != nullptr ? text : "unknown error";
}

// Anything but ARCHIVE_OK fails, warnings included: a warning can mean a bad checksum or a
// file the writer could not finish, and a half-right build is worse than none.
void require(la_ssize_t status, archive* handle, std::string_view entryName) {
    if (status != ARCHIVE_OK) {
        fail("entry " + shownName(entryName) + ": " + libraryError(handle));
    }
}

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

// A path that passes through a symbolic link writes wherever that link points. Links made
// earlier in this archive and links already in the destination both count, so ask the disk.
std::optional<std::string> linkOnTheWay(const fs::path& root,
                                        const std::vector<std::string_view>& parts) {
    fs::path walked = root;
    std::string walkedName;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        walked /= parts[i];
        walkedName += (i == 0 ? "" : "/") + std::string(parts[i]);
        struct stat info {};
        if (::lstat(walked.c_str(), &info) != 0) {
            return std::nullopt; // missing or not a folder: nothing below it can be a link yet
        }
        if (S_ISLNK(info.st_mode)) {
            return "path goes through the symbolic link " + shownName(walkedName);
        }
    }
    return std::nullopt;
}

void copyData(archive* reader, archive* writer, std::string_view entryName) {
    for (;;) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) {
            return;
        }
        require(status, reader, entryName);
        require(archive_write_data_block(writer, block, size, offset), writer, entryName);
    }
}

void unpackEntry(archive* reader, archive* writer, archive_entry* entry, const fs::path& root) {
    const char* rawName = archive_entry_pathname(entry);
    const std::string name = rawName != nullptr ? rawName : "";
    const char* linkTarget = archive_entry_symlink(entry);
    std::optional<std::string> refusal =
        EntrySafety::refusal(name, kindOf(entry), linkTarget != nullptr ? linkTarget : "");
    const std::vector<std::string_view> parts = EntrySafety::components(name);
    if (!refusal) {
        refusal = linkOnTheWay(root, parts);
    }
    if (refusal) {
        fail("unsafe entry " + shownName(name) + ": " + *refusal);
    }
    if (parts.empty()) {
        return; // the destination folder itself, which exists
    }
    fs::path target = root;
    for (const std::string_view part : parts) {
        target /= part;
    }
    archive_entry_set_pathname(entry, target.c_str());
    require(archive_write_header(writer, entry), writer, name);
    copyData(reader, writer, name);
    require(archive_write_finish_entry(writer), writer, name);
}

std::string archiveFailure(const fs::path& zip, archive* reader) {
    return "cannot read archive " + shownName(zip.string()) + ": " + libraryError(reader);
}

Archive::Reader openZip(const fs::path& zip) {
    Archive::Reader reader = Archive::newReader();
    // Builds are zip files; every other format the library knows would only add attack surface.
    if (archive_read_support_format_zip(reader.get()) != ARCHIVE_OK ||
        archive_read_open_filename(reader.get(), zip.c_str(), ReadBlockSize) != ARCHIVE_OK) {
        fail(archiveFailure(zip, reader.get()));
    }
    return reader;
}

// Entries go below the destination's real path: the writer's link guard inspects every
// component of the paths it is given, so the destination's own path must hold no links (the
// user's data folder may well sit behind one).
fs::path realFolder(const fs::path& folder) {
    std::error_code error;
    fs::path real = fs::canonical(folder, error);
    if (error) {
        throw Error::posix(error.value(), "resolve", folder);
    }
    return real;
}

} // namespace

void extract(const fs::path& zip, const fs::path& into) {
    FileSystem::createFolder(into);

    // The disk writer sets the process umask to 0 while it writes each header and then restores
    // the value it found. Two unpackings at once could each restore the other's 0 and leave the
    // process with umask 0 for good, so unpackings take turns. Other threads creating files in
    // those instants would still get umask 0; the launcher writes nothing else while a build
    // unpacks.
    static std::mutex unpacking;
    const std::lock_guard lock(unpacking);

    const fs::path root = realFolder(into);
    const Utf8NameLocale utf8Names;
    Archive::Reader reader = openZip(zip);
    Archive::Writer writer = Archive::newDiskWriter();
    archive_write_disk_set_options(writer.get(), DiskWriterFlags);
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) {
            break;
        }
        if (status != ARCHIVE_OK) {
            fail(archiveFailure(zip, reader.get()));
        }
        unpackEntry(reader.get(), writer.get(), entry, root);
    }
    // Closing sets the folder modes the writer deferred until their contents were written.
    if (archive_write_close(writer.get()) != ARCHIVE_OK) {
        fail("cannot finish unpacking: " + libraryError(writer.get()));
    }
}

} // namespace Core
