#include "support/ZipBuilder.h"

#include "core/unpack/ArchiveHandle.h"
#include "support/TempDir.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace {

struct EntryDeleter {
    void operator()(archive_entry* entry) const noexcept { archive_entry_free(entry); }
};

void check(int status, archive* writer) {
    if (status != ARCHIVE_OK) {
        throw std::runtime_error(std::string("zip writer: ") + archive_error_string(writer));
    }
}

la_ssize_t append(archive*, void* output, const void* buffer, std::size_t length) {
    static_cast<std::string*>(output)->append(static_cast<const char*>(buffer), length);
    return static_cast<la_ssize_t>(length);
}

// Central directory record: signature "PK\1\2", name length at 28, external attributes at 38
// (the Unix mode is their upper half, from byte 40), the name from byte 46.
void patchRecordedMode(std::string& zip, const std::string& name, unsigned mode) {
    const std::string signature("PK\x01\x02", 4);
    for (std::size_t at = zip.find(signature); at != std::string::npos;
         at = zip.find(signature, at + signature.size())) {
        const std::size_t nameLength = static_cast<unsigned char>(zip[at + 28]) |
                                       static_cast<unsigned char>(zip[at + 29]) << 8;
        if (nameLength == name.size() && zip.compare(at + 46, nameLength, name) == 0) {
            zip[at + 40] = static_cast<char>(mode & 0xff);
            zip[at + 41] = static_cast<char>(mode >> 8 & 0xff);
            return;
        }
    }
    throw std::runtime_error("no central directory record for " + name);
}

} // namespace

ZipBuilder& ZipBuilder::file(std::string name, std::string content, unsigned mode) {
    entries_.push_back({std::move(name), S_IFREG | mode, std::move(content), {}});
    return *this;
}

ZipBuilder& ZipBuilder::folder(std::string name, unsigned mode) {
    entries_.push_back({std::move(name), S_IFDIR | mode, {}, {}});
    return *this;
}

ZipBuilder& ZipBuilder::symlink(std::string name, std::string target) {
    entries_.push_back({std::move(name), S_IFLNK | 0755, {}, std::move(target)});
    return *this;
}

ZipBuilder& ZipBuilder::special(std::string name, unsigned mode) {
    patchedModes_.emplace_back(name, mode);
    return file(std::move(name), {});
}

ZipBuilder& ZipBuilder::uncompressed() {
    compressed_ = false;
    return *this;
}

ZipBuilder& ZipBuilder::zip64() {
    zip64_ = true;
    return *this;
}

std::string ZipBuilder::bytes() const {
    std::string zip;
    Core::Unpack::Archive::Writer writer = Core::Unpack::Archive::newWriter();
    check(archive_write_set_format_zip(writer.get()), writer.get());
    // Names are recorded as UTF-8 and flagged so, as the studio's tools do.
    check(archive_write_set_options(writer.get(), "zip:hdrcharset=UTF-8"), writer.get());
    if (!compressed_) {
        check(archive_write_set_options(writer.get(), "zip:compression=store"), writer.get());
    }
    if (zip64_) {
        check(archive_write_set_options(writer.get(), "zip:zip64"), writer.get());
    }
    // No padding after the archive's end.
    check(archive_write_set_bytes_per_block(writer.get(), 0), writer.get());
    check(archive_write_open(writer.get(), &zip, nullptr, append, nullptr), writer.get());
    for (const Entry& entry : entries_) {
        std::unique_ptr<archive_entry, EntryDeleter> header(archive_entry_new());
        archive_entry_set_pathname_utf8(header.get(), entry.name.c_str());
        archive_entry_set_mode(header.get(), entry.mode);
        if (!entry.linkTarget.empty()) {
            archive_entry_set_symlink_utf8(header.get(), entry.linkTarget.c_str());
        }
        archive_entry_set_size(header.get(), static_cast<la_int64_t>(entry.content.size()));
        check(archive_write_header(writer.get(), header.get()), writer.get());
        if (!entry.content.empty() &&
            archive_write_data(writer.get(), entry.content.data(), entry.content.size()) !=
                static_cast<la_ssize_t>(entry.content.size())) {
            check(ARCHIVE_FATAL, writer.get());
        }
    }
    check(archive_write_close(writer.get()), writer.get());
    for (const auto& [name, mode] : patchedModes_) {
        patchRecordedMode(zip, name, mode);
    }
    return zip;
}

void ZipBuilder::writeTo(const std::filesystem::path& zip) const {
    writeFile(zip, bytes());
}
