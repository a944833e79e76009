#pragma once

#include "core/transfer/Transfer.h"
#include "formats/FileIndex.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Fetches parts of one file with HTTP range requests, over connections kept open from one
// request to the next: how a patch update takes single entries out of a build archive.
namespace Core::Transfer {

// Spans closer than this are fetched in one request, the bytes between them read and dropped:
// a request costs a round trip, 64 KiB is less than most links carry in one.
constexpr std::int64_t CoalesceGap = 64 * 1024;

// The ranges to request for `spans`: sorted, with overlapping spans and spans less than `gap`
// apart merged. Empty spans are left out.
std::vector<ByteSpan> coalesceSpans(std::vector<ByteSpan> spans, std::int64_t gap = CoalesceGap);

// Receives the fetched spans' bytes, on the fetching thread. What it throws ends the fetch and
// is rethrown.
class SpanSink {
public:
    virtual ~SpanSink() = default;
    // The next bytes of spans[index], in order; a span comes in any number of pieces.
    virtual void write(std::size_t index, std::string_view bytes) = 0;
    // Every byte of spans[index] has been written.
    virtual void finish(std::size_t index) = 0;
};

enum class RangeOutcome {
    Fetched,
    // The host ignored a range (status 200) or answered with another range or file length than
    // asked: it cannot serve parts, and the caller falls back to fetching the whole file. The
    // sink may have had some spans already.
    RangesUnsupported,
};

// Fetches every span of the file at `address`, whose length is `fileSize` (0: not known; the
// first answer's length is then held to), handing each span's bytes to `sink` in file order.
// Requests are the launcher's usual GETs (see httpGet) with "Range: bytes=<first>-<last>" for
// each coalesced range, one after the other on one connection while the host keeps it open.
// Every answer must be 206 with exactly the asked Content-Range. A transfer cut short (a lost
// connection, a body that ends early) is retried after each of options.retryDelays, asking
// only for the bytes still missing; the delays apply afresh to each range. `onProgress` gets
// the bytes received so far (gaps included) and the total of all ranges.
//
// Blocks until done. Returns RangesUnsupported as said above. Throws Error: "am" 5 "download
// failed with HTTP status <n>" for 416 and every status of 400 or more; "curl" 8 when the
// host sends more bytes than a range asked for; "curl" 18 when a range stays short after the
// last attempt; "am" 1 or 7 for a refused address or redirect; the transport's "curl" error;
// whatever the sink throws.
RangeOutcome
fetchSpans(const std::string& address, std::int64_t fileSize, const std::vector<ByteSpan>& spans,
           SpanSink& sink, const TransferOptions& options = defaultTransferOptions(),
           const std::function<void(std::int64_t received, std::int64_t total)>& onProgress = {});

} // namespace Core::Transfer
