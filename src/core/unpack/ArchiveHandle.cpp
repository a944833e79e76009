#include "core/unpack/ArchiveHandle.h"

#include <new>

namespace Core::Unpack::Archive {

namespace {

template <typename Handle> Handle owned(archive* handle) {
    if (handle == nullptr) {
        throw std::bad_alloc();
    }
    return Handle(handle);
}

} // namespace

Reader newReader() {
    return owned<Reader>(archive_read_new());
}

Writer newWriter() {
    return owned<Writer>(archive_write_new());
}

} // namespace Core::Unpack::Archive
