#include "core/unpack/ZipHeaders.h"

#include "core/unpack/ArchiveHandle.h"
#include "platform/Error.h"

#include <archive.h>
#include <archive_entry.h>

namespace Core::Unpack {

namespace {

Error unreadable(archive* reader) {
    const char* reason = archive_error_string(reader);
    return Error::am(AmCode::UnpackFailed, "ditto failed with status 1",
                     reason != nullptr ? reason : "cannot read the archive");
}

std::string entryPath(archive_entry* entry) {
    const char* utf8 = archive_entry_pathname_utf8(entry);
    const char* path = utf8 != nullptr ? utf8 : archive_entry_pathname(entry);
    return path != nullptr ? path : "";
}

} // namespace

std::vector<ZipEntryHeader> readZipHeaders(const std::filesystem::path& zip) {
    const Unpack::Archive::Reader reader = Unpack::Archive::newReader();
    // Through the central directory only, as unpacking reads it: a build cut short is refused here
    // too, not published.
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), zip.c_str(), 64 * 1024) != ARCHIVE_OK) {
        throw unreadable(reader.get());
    }
    std::vector<ZipEntryHeader> entries;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) {
            return entries;
        }
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            throw unreadable(reader.get());
        }
        entries.push_back({entryPath(entry),
                           archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0,
                           archive_entry_filetype(entry) == AE_IFREG});
        if (archive_read_data_skip(reader.get()) != ARCHIVE_OK) {
            throw unreadable(reader.get());
        }
    }
}

} // namespace Core::Unpack
