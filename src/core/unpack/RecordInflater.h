#pragma once

#include "core/unpack/ZipRecords.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Unpacks one zip entry from the bytes of its local record (header, data, any data descriptor)
// as they arrive, without the rest of the archive: what lets a launcher fetch single entries.
// The record must be exactly what the file index promises: a local header naming `path`
// (ignoring "./" and doubled slashes), stored or deflated, not encrypted, unpacking to exactly
// `size` bytes, with nothing after the data but the data descriptor its flags announce.
// Anything else throws "am" 6 "download checksum mismatch" with the reason as detail: fetched
// bytes that are not the entry the pinned index describes are a wrong download. Never passes
// on more than `size` bytes. One thread; blocking only in `output`.
namespace Core::Unpack {

class RecordInflater {
public:
    using Output = std::function<void(std::string_view bytes)>;

    RecordInflater(std::string path, std::int64_t size, Output output);
    ~RecordInflater();
    RecordInflater(const RecordInflater&) = delete;
    RecordInflater& operator=(const RecordInflater&) = delete;

    // The next bytes of the record, in order.
    void feed(std::string_view bytes);
    // The record is complete: throws when the data ended early or was followed by more than
    // its data descriptor.
    void finish();

private:
    struct Stream;

    void takeHeader(std::string_view& bytes);
    void takeData(std::string_view& bytes);
    void emit(std::string_view bytes);
    [[noreturn]] void mismatch(const std::string& reason) const;

    std::string path_;
    std::int64_t size_;
    Output output_;
    std::string headerBytes_; // until the whole local header has arrived
    std::optional<LocalHeader> header_;
    std::unique_ptr<Stream> inflate_; // deflated entries only
    std::int64_t produced_ = 0;
    bool dataDone_ = false;
    std::int64_t trailing_ = 0; // bytes after the data
};

} // namespace Core::Unpack
