#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

// A file written next to the place it is meant for and moved there only when complete. It is
// created with a unique hidden name (".<name>.XXXXXX") in the destination's folder, so the
// final rename never crosses file systems, and removed when the object goes away unless it has
// been committed. One thread at a time. Failures throw Error with domain "posix".
class PendingFile {
public:
    // Throws when the file cannot be created, for example when the folder is missing.
    explicit PendingFile(std::filesystem::path destination);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Appends bytes at the end of what has been written so far.
    void append(std::string_view bytes);
    std::int64_t size() const { return size_; }

    // Closes the file and renames it to the destination, replacing whatever stands there (a
    // folder is removed first). After this the object no longer owns a file.
    void commit();

private:
    std::filesystem::path destination_;
    std::filesystem::path path_;
    UniqueFd fd_;
    std::int64_t size_ = 0;
    bool committed_ = false;
};
