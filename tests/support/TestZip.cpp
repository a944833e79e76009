#include "support/TestZip.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace {

struct WriterFree {
    void operator()(archive* writer) const { archive_write_free(writer); }
};
struct EntryFree {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

void check(int status, archive* writer) {
    if (status != ARCHIVE_OK) {
        throw std::runtime_error(std::string("zip writer: ") + archive_error_string(writer));
    }
}

} // namespace

void writeTestZip(const std::filesystem::path& zip,
                  const std::vector<std::pair<std::string, std::string>>& entries) {
    std::unique_ptr<archive, WriterFree> writer(archive_write_new());
    check(archive_write_set_format_zip(writer.get()), writer.get());
    check(archive_write_open_filename(writer.get(), zip.c_str()), writer.get());
    for (const auto& [name, content] : entries) {
        std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
        archive_entry_set_pathname(entry.get(), name.c_str());
        const bool folder = name.ends_with('/');
        archive_entry_set_mode(entry.get(), folder ? S_IFDIR | 0755 : S_IFREG | 0755);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(content.size()));
        check(archive_write_header(writer.get(), entry.get()), writer.get());
        if (!content.empty() &&
            archive_write_data(writer.get(), content.data(), content.size()) < 0) {
            check(ARCHIVE_FATAL, writer.get());
        }
    }
    check(archive_write_close(writer.get()), writer.get());
}
