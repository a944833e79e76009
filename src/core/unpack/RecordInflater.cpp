#include "core/unpack/RecordInflater.h"

#include "core/unpack/EntrySafety.h"
#include "core/unpack/UnpackError.h"
#include "platform/Error.h"

#include <algorithm>
#include <array>
#include <climits>
#include <zlib.h>

namespace Core::Unpack {

namespace {

constexpr std::size_t OutputBlock = 64 * 1024;

// A data descriptor: optional signature, CRC-32, then both sizes in 4 or 8 bytes each.
bool isDescriptorLength(std::int64_t length, bool zip64) {
    const std::int64_t plain = zip64 ? 20 : 12;
    return length == plain || length == plain + 4;
}

std::string normalised(std::string_view name) {
    std::string path;
    for (const std::string_view part : EntrySafety::components(name)) {
        path.append(path.empty() ? "" : "/").append(part);
    }
    return path;
}

} // namespace

// zlib's raw inflate state, ended when the record is done with.
struct RecordInflater::Stream {
    Stream() {
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
            throw std::bad_alloc();
        }
    }
    ~Stream() { inflateEnd(&stream); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    z_stream stream{};
};

RecordInflater::RecordInflater(std::string path, std::int64_t size, Output output)
    : path_(std::move(path)), size_(size), output_(std::move(output)) {}

RecordInflater::~RecordInflater() = default;

void RecordInflater::feed(std::string_view bytes) {
    if (!header_) {
        takeHeader(bytes);
    }
    if (header_ && !dataDone_) {
        takeData(bytes);
    }
    // Whatever is left follows the data; more than the largest descriptor is never right.
    trailing_ += static_cast<std::int64_t>(bytes.size());
    if (trailing_ > 24) {
        mismatch("more bytes than the record holds");
    }
}

void RecordInflater::finish() {
    if (!header_ || !dataDone_) {
        mismatch("the record ends before its data does");
    }
    const bool descriptor = (header_->flags & ZipDataDescriptor) != 0;
    if (descriptor ? !isDescriptorLength(trailing_, header_->zip64) : trailing_ != 0) {
        mismatch("more bytes than the record holds");
    }
}

void RecordInflater::takeHeader(std::string_view& bytes) {
    const std::size_t before = headerBytes_.size();
    headerBytes_.append(bytes);
    try {
        header_ = parseLocalHeader(headerBytes_);
    } catch (const Error& error) {
        mismatch(error.detail().value_or("not a zip local record"));
    }
    if (!header_) {
        bytes = {};
        return;
    }
    bytes.remove_prefix(header_->length - before);
    headerBytes_.clear();
    if (normalised(header_->name) != path_) {
        mismatch("the record is for " + shownName(header_->name));
    }
    if (header_->flags & ZipEncrypted) {
        mismatch("the entry is encrypted");
    }
    if (header_->method == ZipDeflated) {
        inflate_ = std::make_unique<Stream>();
    } else if (header_->method != ZipStored) {
        mismatch("compression method " + std::to_string(header_->method) + " is not supported");
    } else if (!(header_->flags & ZipDataDescriptor) &&
               (header_->compressedSize != size_ || header_->size != size_)) {
        mismatch("the stored size is not the indexed size");
    }
    dataDone_ = header_->method == ZipStored && size_ == 0;
}

void RecordInflater::takeData(std::string_view& bytes) {
    if (!inflate_) {
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(size_ - produced_, static_cast<std::int64_t>(bytes.size())));
        emit(bytes.substr(0, count));
        bytes.remove_prefix(count);
        dataDone_ = produced_ == size_;
        return;
    }
    z_stream& stream = inflate_->stream;
    std::array<unsigned char, OutputBlock> block{};
    // A full block may leave output inside zlib even when all input is taken: go on until a
    // call leaves room.
    for (bool blockFilled = true; !dataDone_ && (!bytes.empty() || blockFilled);) {
        // zlib takes 32-bit lengths; larger pieces go round the loop.
        const auto input = static_cast<uInt>(std::min<std::size_t>(bytes.size(), UINT_MAX));
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        stream.avail_in = input;
        stream.next_out = block.data();
        stream.avail_out = static_cast<uInt>(block.size());
        const int status = ::inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            mismatch(std::string("the data does not inflate: ") +
                     (stream.msg != nullptr ? stream.msg : "zlib error " + std::to_string(status)));
        }
        bytes.remove_prefix(input - stream.avail_in);
        blockFilled = stream.avail_out == 0;
        emit({reinterpret_cast<const char*>(block.data()), block.size() - stream.avail_out});
        if (status == Z_STREAM_END) {
            if (produced_ != size_) {
                mismatch("the entry unpacks to " + std::to_string(produced_) +
                         " bytes, not the indexed " + std::to_string(size_));
            }
            dataDone_ = true;
        }
    }
}

void RecordInflater::emit(std::string_view bytes) {
    if (static_cast<std::int64_t>(bytes.size()) > size_ - produced_) {
        mismatch("the entry unpacks to more than the indexed " + std::to_string(size_) + " bytes");
    }
    produced_ += static_cast<std::int64_t>(bytes.size());
    if (!bytes.empty()) {
        output_(bytes);
    }
}

void RecordInflater::mismatch(const std::string& reason) const {
    throw Error::am(AmCode::ChecksumMismatch, "download checksum mismatch",
                    "entry " + shownName(path_) + ": " + reason);
}

} // namespace Core::Unpack
