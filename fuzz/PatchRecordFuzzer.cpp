// A patch update reads two things a host hands over entry by entry: the file index (pinned by
// the manifest, still parsed strictly) and each entry's record bytes. The input is "index line
// NUL record". Whatever the bytes:
// - an index that parses writes back to the same text and parses again to the same index;
// - the inflater never passes on more than the indexed size, and a record it accepts unpacked
//   to exactly that size; it fails only with "download checksum mismatch".
#include "FuzzSupport.h"
#include "core/unpack/RecordInflater.h"
#include "formats/FileIndex.h"
#include "platform/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = textOf(data, size);
    const std::string_view line = input.substr(0, input.find('\0'));
    const std::string_view record = input.substr(std::min(input.size(), line.size() + 1));
    FileIndex index;
    try {
        index = FileIndex::parse("ashenmarch-index 1\n" + std::string(line));
    } catch (const FileIndexError&) {
        return 0;
    }
    require(FileIndex::parse(index.serialize()) == index, "an index written back reads the same");
    // Larger sizes only make the fuzzer spend its time on zeros.
    if (index.entries.empty() || index.entries.front().kind == IndexKind::Folder ||
        index.entries.front().size > (1 << 20)) {
        return 0;
    }
    const IndexEntry& entry = index.entries.front();
    std::int64_t produced = 0;
    Core::Unpack::RecordInflater inflater(entry.path, entry.size, [&](std::string_view bytes) {
        produced += static_cast<std::int64_t>(bytes.size());
        require(produced <= entry.size, "never more than the indexed size");
    });
    try {
        // In two pieces, as bytes arrive from the network.
        inflater.feed(record.substr(0, record.size() / 2));
        inflater.feed(record.substr(record.size() / 2));
        inflater.finish();
    } catch (const Error& error) {
        require(error.is(AmCode::ChecksumMismatch), "a bad record is a checksum mismatch");
        return 0;
    }
    require(produced == entry.size, "an accepted record unpacks to the indexed size");
    return 0;
}
