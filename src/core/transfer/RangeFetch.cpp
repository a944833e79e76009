#include "core/transfer/RangeFetch.h"

#include "core/transfer/ContentRange.h"
#include "core/transfer/HttpGet.h"
#include "core/transfer/RetryPolicy.h"
#include "platform/Error.h"

#include <curl/curl.h>

#include <algorithm>
#include <numeric>

namespace Core::Transfer {

namespace {

constexpr long PartialContent = 206;

// Thrown by a response that is not the range asked for; ends the fetch with RangesUnsupported.
struct RangesIgnored {};

Error tooManyBytes() {
    return Error("curl", CURLE_WEIRD_SERVER_REPLY,
                 "the host sent more bytes than the range asked for");
}

// Hands bytes arriving in file order to every span they belong to.
class SpanDispatch {
public:
    SpanDispatch(const std::vector<ByteSpan>& spans, SpanSink& sink) : spans_(spans), sink_(sink) {
        order_.resize(spans.size());
        std::iota(order_.begin(), order_.end(), 0);
        std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
            return spans[a].offset < spans[b].offset;
        });
        for (const std::size_t index : order_) {
            if (spans[index].length <= 0) {
                sink_.finish(index);
            }
        }
    }

    void deliver(std::int64_t position, std::string_view bytes) {
        const std::int64_t end = position + static_cast<std::int64_t>(bytes.size());
        for (std::size_t i = firstOpen_; i < order_.size(); ++i) {
            const ByteSpan& span = spans_[order_[i]];
            if (span.offset >= end) {
                break;
            }
            if (span.length <= 0 || span.end() <= position) {
                continue; // finished already
            }
            const std::int64_t from = std::max(span.offset, position);
            const std::int64_t to = std::min(span.end(), end);
            sink_.write(order_[i], bytes.substr(static_cast<std::size_t>(from - position),
                                                static_cast<std::size_t>(to - from)));
            if (to == span.end()) {
                sink_.finish(order_[i]);
            }
        }
        while (firstOpen_ < order_.size() && spans_[order_[firstOpen_]].end() <= end) {
            ++firstOpen_;
        }
    }

private:
    const std::vector<ByteSpan>& spans_;
    SpanSink& sink_;
    std::vector<std::size_t> order_; // span positions by offset
    std::size_t firstOpen_ = 0;      // in order_: every span before it is finished
};

// Shared by the requests of one fetch.
struct FetchState {
    SpanDispatch dispatch;
    std::int64_t fileSize;
    std::int64_t received = 0;
    std::int64_t total = 0;
    const std::function<void(std::int64_t, std::int64_t)>& onProgress;
};

// The answer to one range request, checked before any byte of it is passed on.
class RangeResponse final : public BodySink {
public:
    RangeResponse(ByteSpan asked, FetchState& state) : asked_(asked), state_(state) {}

    long status() const { return status_; }
    std::int64_t received() const { return received_; }

    void begin(const ResponseHead& head) override {
        status_ = head.status;
        if (head.status >= 400) {
            throw Error::am(AmCode::HttpStatus,
                            "download failed with HTTP status " + std::to_string(head.status));
        }
        const auto range = parseContentRange(head.contentRange);
        if (head.status != PartialContent || !range || range->first != asked_.offset ||
            range->last != asked_.end() - 1 ||
            (state_.fileSize > 0 && range->total != state_.fileSize)) {
            throw RangesIgnored{};
        }
        state_.fileSize = range->total;
        if (head.announcedLength && *head.announcedLength > asked_.length) {
            throw tooManyBytes();
        }
    }

    void write(std::string_view chunk) override {
        const auto size = static_cast<std::int64_t>(chunk.size());
        if (size > asked_.length - received_) {
            throw tooManyBytes();
        }
        state_.dispatch.deliver(asked_.offset + received_, chunk);
        received_ += size;
        state_.received += size;
        if (state_.onProgress) {
            state_.onProgress(state_.received, state_.total);
        }
    }

private:
    ByteSpan asked_;
    FetchState& state_;
    long status_ = 0;
    std::int64_t received_ = 0;
};

// Requests the rest of `range` from `done` bytes on, once, adding what arrives to `done` (also
// when it fails) and keeping the answer's status for the retry decision.
void requestRest(HttpSession& session, const std::string& address, ByteSpan range,
                 std::int64_t& done, FetchState& state, const TransferOptions& options,
                 long& status) {
    const ByteSpan asked{range.offset + done, range.length - done};
    RangeResponse response(asked, state);
    try {
        httpGet(session, address, options, response,
                ResumeRequest{asked.offset, {}, asked.end() - 1});
    } catch (...) {
        done += response.received();
        status = response.status();
        throw;
    }
    done += response.received();
    status = response.status();
    if (done < range.length) {
        throw Error("curl", CURLE_PARTIAL_FILE,
                    "the host sent " + std::to_string(response.received()) + " of " +
                        std::to_string(asked.length) + " bytes asked for");
    }
}

void fetchRange(HttpSession& session, const std::string& address, ByteSpan range, FetchState& state,
                const TransferOptions& options) {
    const int attempts = static_cast<int>(options.retryDelays.size()) + 1;
    std::int64_t done = 0;
    for (int attempt = 1;;) {
        long status = 0;
        try {
            requestRest(session, address, range, done, state, options, status);
            return;
        } catch (const Error& error) {
            if (attempt == attempts || !isTransient(error, status)) {
                throw;
            }
        }
        ++attempt;
        if (options.onRetry) {
            options.onRetry(attempt, attempts);
        }
        if (!waitUnlessStopped(options.retryDelays[attempt - 2], options.stop)) {
            throw transferStopped();
        }
    }
}

} // namespace

std::vector<ByteSpan> coalesceSpans(std::vector<ByteSpan> spans, std::int64_t gap) {
    std::erase_if(spans, [](const ByteSpan& span) { return span.length <= 0; });
    std::sort(spans.begin(), spans.end(),
              [](const ByteSpan& a, const ByteSpan& b) { return a.offset < b.offset; });
    std::vector<ByteSpan> ranges;
    for (const ByteSpan& span : spans) {
        if (!ranges.empty() && span.offset - ranges.back().end() < gap) {
            ranges.back().length = std::max(ranges.back().end(), span.end()) - ranges.back().offset;
        } else {
            ranges.push_back(span);
        }
    }
    return ranges;
}

RangeOutcome fetchSpans(const std::string& address, std::int64_t fileSize,
                        const std::vector<ByteSpan>& spans, SpanSink& sink,
                        const TransferOptions& options,
                        const std::function<void(std::int64_t, std::int64_t)>& onProgress) {
    const std::vector<ByteSpan> ranges = coalesceSpans(spans);
    FetchState state{SpanDispatch(spans, sink), fileSize, 0, 0, onProgress};
    for (const ByteSpan& range : ranges) {
        state.total += range.length;
    }
    HttpSession session;
    try {
        for (const ByteSpan& range : ranges) {
            fetchRange(session, address, range, state, options);
        }
    } catch (const RangesIgnored&) {
        return RangeOutcome::RangesUnsupported;
    }
    return RangeOutcome::Fetched;
}

} // namespace Core::Transfer
