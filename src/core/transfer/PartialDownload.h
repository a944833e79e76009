#pragma once

#include "core/transfer/HttpGet.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace Core::Transfer {

// Which body the bytes of a partial download belong to.
struct PartialRecord {
    std::string address;
    // The server's strong ETag, else its Last-Modified; empty when it gave neither, and then
    // the bytes cannot be continued: nothing would prove they still match.
    std::string validator;
    std::int64_t length = 0; // the full length the server announced; 0 when it announced none
};

// The bytes a download to `destination` holds from an earlier attempt, 0 when none. The next
// download there either continues or replaces them, so their space is its own.
std::uint64_t partialBytes(const std::filesystem::path& destination);

// The validator a response offers for continuing its body later (see PartialRecord).
std::string resumeValidator(const ResponseHead& head);

// The body of one download as it grows, kept beside its destination as "<destination>.part"
// with a record of what it is in "<destination>.part.meta", so that the next attempt, in this
// run or a later one, continues it instead of starting over. The bytes in the file are always
// a prefix of the body the record names (or none): the record is written before the first byte
// of a new body.
//
// Constructing opens the file for `address`, keeping its bytes only when the record names the
// same address and a validator. The object going away leaves the file and record in place for
// a later run when they can be continued, and removes them otherwise. One thread at a time.
// File-system failures throw Error with domain "posix".
class PartialDownload {
public:
    // Throws when the file cannot be opened, for example when the folder is missing.
    PartialDownload(std::filesystem::path destination, std::string address);
    ~PartialDownload();
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::int64_t size() const { return size_; }
    const PartialRecord& record() const { return record_; }
    // The request that continues the bytes held, or nothing when there are none or they cannot
    // be continued.
    std::optional<ResumeRequest> resumeRequest() const;

    // Empties the file for a new body and records it, before its first byte arrives.
    void restart(PartialRecord record);
    // Empties the file and forgets which body it was, so the next request starts over.
    void forget();
    void append(std::string_view bytes);
    // Hands the bytes already held to `reader`, piece by piece: one read of the file.
    void readHeldBytes(const std::function<void(std::string_view)>& reader) const;

    // Closes the file and renames it to the destination, replacing whatever stands there (a
    // folder is removed first), then drops the record.
    void commit();
    // Removes the file and its record now: their bytes are known to be wrong.
    void discard();

private:
    void truncate();
    void writeRecord();

    std::filesystem::path destination_;
    std::filesystem::path path_;
    std::filesystem::path recordPath_;
    PartialRecord record_;
    UniqueFd fd_;
    std::int64_t size_ = 0;
    bool settled_ = false; // committed or discarded
};

} // namespace Core::Transfer
