#pragma once

#include <archive.h>

#include <memory>

// Owners for libarchive handles, so every path out of an unpacking frees them. A reader is
// freed with archive_read_free; a writer with archive_write_free, which first closes it.
// The factories throw std::bad_alloc when libarchive cannot allocate.
namespace Core::Unpack::Archive {

struct ReaderDeleter {
    void operator()(archive* handle) const noexcept { archive_read_free(handle); }
};
struct WriterDeleter {
    void operator()(archive* handle) const noexcept { archive_write_free(handle); }
};

using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

Reader newReader();
Writer newWriter(); // to any output, e.g. memory

} // namespace Core::Unpack::Archive
