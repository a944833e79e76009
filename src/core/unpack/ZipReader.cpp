#include "core/unpack/ZipReader.h"

#include "core/unpack/UnpackError.h"

namespace Core::Unpack {

namespace {

// Large enough to keep system calls few, small enough that a reader passing over entries it
// does not unpack copies little: each header it reads costs one block.
constexpr std::size_t ReadBlockSize = 128 * 1024;

} // namespace

Unpack::Archive::Reader openZip(const std::filesystem::path& zip) {
    Unpack::Archive::Reader reader = Unpack::Archive::newReader();
    if (archive_read_support_format_zip_seekable(reader.get()) != ARCHIVE_OK ||
        archive_read_open_filename(reader.get(), zip.c_str(), ReadBlockSize) != ARCHIVE_OK) {
        failReading(zip, libraryError(reader.get()));
    }
    return reader;
}

void readData(archive* reader, const std::string& entryName, const BlockSink& sink) {
    for (;;) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) {
            return;
        }
        require(status, reader, entryName);
        sink(block, size, offset);
    }
}

} // namespace Core::Unpack
