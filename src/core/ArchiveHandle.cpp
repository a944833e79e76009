#include "core/ArchiveHandle.h"

#include <new>

namespace Archive {

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

Writer newDiskWriter() {
    return owned<Writer>(archive_write_disk_new());
}

} // namespace Archive
