#include "core/unpack/ZipRecords.h"

#include "core/unpack/UnpackError.h"
#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Core::Unpack {

namespace {

constexpr std::uint32_t LocalSignature = 0x04034b50;
constexpr std::uint32_t CentralSignature = 0x02014b50;
constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::uint32_t Zip64EndSignature = 0x06064b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t DescriptorSignature = 0x08074b50;
constexpr std::uint16_t Zip64Field = 0x0001;
constexpr std::uint32_t Saturated32 = 0xffffffff;

constexpr std::size_t LocalHeaderSize = 30;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t EndSize = 22;
constexpr std::size_t LocatorSize = 20;
constexpr std::size_t Zip64EndSize = 56;
constexpr std::size_t MostCommentBytes = 0xffff;

// Little-endian fields read from a byte string, failing past its end.
class Fields {
public:
    explicit Fields(std::string_view bytes) : bytes_(bytes) {}

    std::uint64_t take(std::size_t width) {
        if (bytes_.size() < width) {
            fail("zip record ends early");
        }
        std::uint64_t value = 0;
        for (std::size_t i = width; i-- > 0;) {
            value = value << 8 | static_cast<unsigned char>(bytes_[i]);
        }
        bytes_.remove_prefix(width);
        return value;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::int64_t u64() {
        const std::uint64_t value = take(8);
        if (value > static_cast<std::uint64_t>(INT64_MAX)) {
            fail("zip record holds an impossible size");
        }
        return static_cast<std::int64_t>(value);
    }
    std::string_view bytes(std::size_t count) {
        if (bytes_.size() < count) {
            fail("zip record ends early");
        }
        const std::string_view taken = bytes_.substr(0, count);
        bytes_.remove_prefix(count);
        return taken;
    }
    void skip(std::size_t count) { bytes(count); }

private:
    std::string_view bytes_;
};

// Walks the extra fields, handing each one's id and data to `visit`.
template <typename Visit> void forEachExtraField(std::string_view extra, Visit visit) {
    while (extra.size() >= 4) {
        Fields header(extra);
        const std::uint16_t id = header.u16();
        const std::uint16_t length = header.u16();
        extra.remove_prefix(4);
        if (extra.size() < length) {
            fail("zip extra field ends early");
        }
        visit(id, extra.substr(0, length));
        extra.remove_prefix(length);
    }
}

// The ZIP64 field replaces each 32-bit value that is saturated, in this order.
void applyZip64(std::string_view data, ZipDirectoryEntry& entry, std::uint32_t size,
                std::uint32_t compressedSize, std::uint32_t offset) {
    Fields fields(data);
    if (size == Saturated32) {
        entry.size = fields.u64();
    }
    if (compressedSize == Saturated32) {
        entry.compressedSize = fields.u64();
    }
    if (offset == Saturated32) {
        entry.localHeaderOffset = fields.u64();
    }
}

} // namespace

std::optional<LocalHeader> parseLocalHeader(std::string_view bytes) {
    if (bytes.size() < 4) {
        return std::nullopt;
    }
    Fields fields(bytes);
    if (fields.u32() != LocalSignature) {
        fail("not a zip local record");
    }
    if (bytes.size() < LocalHeaderSize) {
        return std::nullopt;
    }
    LocalHeader header;
    fields.skip(2); // version needed
    header.flags = fields.u16();
    header.method = fields.u16();
    fields.skip(8); // time, date, CRC-32
    header.compressedSize = fields.u32();
    header.size = fields.u32();
    const std::size_t nameLength = fields.u16();
    const std::size_t extraLength = fields.u16();
    header.length = LocalHeaderSize + nameLength + extraLength;
    if (bytes.size() < header.length) {
        return std::nullopt;
    }
    header.name = fields.bytes(nameLength);
    forEachExtraField(fields.bytes(extraLength), [&](std::uint16_t id, std::string_view) {
        header.zip64 = header.zip64 || id == Zip64Field;
    });
    return header;
}

ZipFile::ZipFile(const std::filesystem::path& zip)
    : path_(zip), fd_(::open(zip.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (!fd_ || ::fstat(fd_.get(), &info) != 0) {
        failReading(path_, std::strerror(errno));
    }
    size_ = info.st_size;
    const std::size_t tailLength =
        static_cast<std::size_t>(std::min<std::int64_t>(size_, EndSize + MostCommentBytes));
    const std::string tail = read(size_ - static_cast<std::int64_t>(tailLength), tailLength);
    // The last end record whose comment runs exactly to the end of the file.
    std::size_t end = std::string::npos;
    for (std::size_t at = tailLength >= EndSize ? tailLength - EndSize + 1 : 0; at-- > 0;) {
        Fields probe(std::string_view(tail).substr(at));
        if (probe.u32() == EndSignature) {
            probe.skip(16);
            if (at + EndSize + probe.u16() == tailLength) {
                end = at;
                break;
            }
        }
    }
    if (end == std::string::npos) {
        failReading(path_, "no end of central directory record");
    }
    Fields record(std::string_view(tail).substr(end + 4));
    const std::uint16_t disk = record.u16();
    const std::uint16_t directoryDisk = record.u16();
    record.skip(2);
    std::int64_t count = record.u16();
    std::int64_t directorySize = record.u32();
    directoryStart_ = record.u32();
    const std::int64_t endOffset = size_ - static_cast<std::int64_t>(tailLength - end);
    if (count == 0xffff || directorySize == Saturated32 || directoryStart_ == Saturated32) {
        if (endOffset < static_cast<std::int64_t>(LocatorSize)) {
            failReading(path_, "no ZIP64 end record locator");
        }
        Fields locator(read(endOffset - static_cast<std::int64_t>(LocatorSize), LocatorSize));
        if (locator.u32() != Zip64LocatorSignature) {
            failReading(path_, "no ZIP64 end record locator");
        }
        locator.skip(4);
        const std::int64_t zip64End = locator.u64();
        Fields end64(read(zip64End, Zip64EndSize));
        if (end64.u32() != Zip64EndSignature) {
            failReading(path_, "no ZIP64 end record");
        }
        end64.skip(28); // record size, versions, disk numbers, entries on this disk
        count = end64.u64();
        directorySize = end64.u64();
        directoryStart_ = end64.u64();
    }
    if (disk != 0 || directoryDisk != 0) {
        failReading(path_, "archives split over several disks are not supported");
    }
    if (directoryStart_ > endOffset || directorySize > endOffset - directoryStart_ ||
        count > directorySize / static_cast<std::int64_t>(CentralHeaderSize)) {
        failReading(path_, "the central directory does not fit the file");
    }
    const std::string directory = read(directoryStart_, static_cast<std::size_t>(directorySize));
    Fields fields(directory);
    for (std::int64_t i = 0; i < count; ++i) {
        if (fields.u32() != CentralSignature) {
            failReading(path_, "damaged central directory");
        }
        ZipDirectoryEntry& entry = entries_.emplace_back();
        fields.skip(4); // versions
        entry.flags = fields.u16();
        entry.method = fields.u16();
        fields.skip(8); // time, date, CRC-32
        const std::uint32_t compressedSize = fields.u32();
        const std::uint32_t size = fields.u32();
        const std::size_t nameLength = fields.u16();
        const std::size_t extraLength = fields.u16();
        const std::size_t commentLength = fields.u16();
        fields.skip(8); // disk, internal and external attributes
        const std::uint32_t offset = fields.u32();
        entry.name = fields.bytes(nameLength);
        entry.compressedSize = compressedSize;
        entry.size = size;
        entry.localHeaderOffset = offset;
        forEachExtraField(fields.bytes(extraLength), [&](std::uint16_t id, std::string_view data) {
            if (id == Zip64Field) {
                applyZip64(data, entry, size, compressedSize, offset);
            }
        });
        fields.skip(commentLength);
        recordStarts_.push_back(entry.localHeaderOffset);
    }
    std::sort(recordStarts_.begin(), recordStarts_.end());
}

ByteSpan ZipFile::recordSpan(const ZipDirectoryEntry& entry) const {
    const std::int64_t start = entry.localHeaderOffset;
    // A record ends where the next one (or the central directory) begins, at the latest.
    const auto next = std::upper_bound(recordStarts_.begin(), recordStarts_.end(), start);
    const std::int64_t limit = next == recordStarts_.end() ? directoryStart_ : *next;
    const auto within = [&](std::int64_t length) {
        return length <= limit - start;
    };
    const std::string shown = shownName(entry.name);
    if (start >= limit || !within(LocalHeaderSize)) {
        fail("entry " + shown + ": local record outside the archive's records");
    }
    const std::string fixed = read(start, LocalHeaderSize);
    Fields lengths(std::string_view(fixed).substr(26));
    const std::int64_t headerLength = LocalHeaderSize + lengths.u16() + lengths.u16();
    if (!within(headerLength)) {
        fail("entry " + shown + ": local header runs into the next record");
    }
    const auto header = parseLocalHeader(read(start, static_cast<std::size_t>(headerLength)));
    std::int64_t length = headerLength + entry.compressedSize;
    if (!within(length)) {
        fail("entry " + shown + ": data runs into the next record");
    }
    if (header->flags & ZipDataDescriptor) {
        const std::int64_t sizes = header->zip64 ? 16 : 8;
        const std::int64_t plain = 4 + sizes; // CRC-32 and the sizes
        const bool withSignature =
            within(length + 4) && Fields(read(start + length, 4)).u32() == DescriptorSignature;
        length += plain + (withSignature ? 4 : 0);
        if (!within(length)) {
            fail("entry " + shown + ": data descriptor runs into the next record");
        }
    }
    return {start, length};
}

std::string ZipFile::read(std::int64_t offset, std::size_t length) const {
    std::string bytes(length, '\0');
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = ::pread(fd_.get(), bytes.data() + done, length - done,
                                      offset + static_cast<off_t>(done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            failReading(path_, count < 0 ? std::strerror(errno) : "the file ends early");
        }
        done += static_cast<std::size_t>(count);
    }
    return bytes;
}

} // namespace Core::Unpack
