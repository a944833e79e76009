#include "core/transfer/HttpGet.h"

#include "core/transfer/CurlHandles.h"
#include "core/transfer/StallWatch.h"
#include "core/transfer/TransferAddress.h"
#include "platform/Error.h"
#include "platform/ReleaseHost.h"

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <exception>
#include <new>

namespace Core::Transfer {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long MaxRedirects = 10;
// libcurl's largest receive buffer: a build is hundreds of megabytes, and fewer, larger pieces
// cost the download thread less per byte than the 16 KB default.
constexpr long ReceiveBufferBytes = 512L * 1024;
constexpr const char* StoppedText = "transfer stopped";

// What the libcurl callbacks share with the transfer loop. Lives on httpGet's stack and is
// only touched on its thread.
struct TransferState {
    TransferState(CURL* easy, BodySink& sink, StallWatch watch)
        : easy(easy), sink(sink), watch(watch) {}

    CURL* easy;
    BodySink& sink;
    StallWatch watch;
    bool begun = false;
    std::exception_ptr sinkFailure;
};

// A header of the final response (request -1: the last one after redirects), or "".
std::string responseHeader(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return {};
    }
    return header->value;
}

void beginBody(TransferState& state) {
    ResponseHead head;
    curl_off_t length = -1;
    curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &head.status);
    curl_easy_getinfo(state.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0) {
        head.announcedLength = length;
    }
    head.etag = responseHeader(state.easy, "ETag");
    head.lastModified = responseHeader(state.easy, "Last-Modified");
    head.contentRange = responseHeader(state.easy, "Content-Range");
    state.begun = true;
    state.sink.begin(head);
}

size_t onBody(char* data, size_t size, size_t count, void* context) {
    auto& state = *static_cast<TransferState*>(context);
    const size_t bytes = size * count;
    state.watch.received(bytes, Clock::now());
    // Exceptions must not unwind through libcurl's C frames: keep it and fail the transfer.
    try {
        if (!state.begun) {
            beginBody(state);
        }
        state.sink.write({data, bytes});
        return bytes;
    } catch (...) {
        state.sinkFailure = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
}

size_t onHeader(char*, size_t size, size_t count, void* context) {
    static_cast<TransferState*>(context)->watch.received(size * count, Clock::now());
    return size * count;
}

template <typename Value> void setOption(CURL* easy, CURLoption option, Value value) {
    if (const CURLcode code = curl_easy_setopt(easy, option, value); code != CURLE_OK) {
        throw Error("curl", code, curl_easy_strerror(code));
    }
}

void appendHeader(CurlList& headers, const std::string& header) {
    curl_slist* extended = curl_slist_append(headers.get(), header.c_str());
    if (extended == nullptr) {
        throw std::bad_alloc();
    }
    headers.release();
    headers.reset(extended);
}

CurlList requestHeaders(const std::optional<ResumeRequest>& resume) {
    CurlList headers;
    appendHeader(headers, "Cache-Control: no-cache");
    // Removes libcurl's default "Accept": nothing beyond what the launcher means to send goes
    // out.
    appendHeader(headers, "Accept:");
    if (resume) {
        appendHeader(headers, "Range: bytes=" + std::to_string(resume->offset) + "-" +
                                  (resume->last ? std::to_string(*resume->last) : ""));
        if (!resume->validator.empty()) {
            appendHeader(headers, "If-Range: " + resume->validator);
        }
    }
    return headers;
}

void configure(CURL* easy, CURLU* url, curl_slist* headers, const TransferOptions& options,
               TransferState& state, char* errorText) {
    const std::string userAgent(UserAgent);
    setOption(easy, CURLOPT_CURLU, url);
    setOption(easy, CURLOPT_HTTPGET, 1L);
    setOption(easy, CURLOPT_USERAGENT, userAgent.c_str());
    setOption(easy, CURLOPT_HTTPHEADER, headers);
    setOption(easy, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    setOption(easy, CURLOPT_PROTOCOLS_STR, allowedProtocols(options.allowPlainHttp));
    setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols(options.allowPlainHttp));
    setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    if (!options.caFile.empty()) {
        setOption(easy, CURLOPT_CAINFO, options.caFile.c_str());
    }
    // Time-outs without signals: the transfer runs on worker threads.
    setOption(easy, CURLOPT_NOSIGNAL, 1L);
    setOption(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    setOption(easy, CURLOPT_ERRORBUFFER, errorText);
    setOption(easy, CURLOPT_WRITEFUNCTION, onBody);
    setOption(easy, CURLOPT_WRITEDATA, &state);
    setOption(easy, CURLOPT_HEADERFUNCTION, onHeader);
    setOption(easy, CURLOPT_HEADERDATA, &state);
}

// One easy handle attached to a multi handle for as long as this object lives. The multi
// handle keeps the connection cache, so a finished transfer leaves its connection there for
// the next one.
class AttachedTransfer {
public:
    AttachedTransfer(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
            throw std::bad_alloc();
        }
    }
    ~AttachedTransfer() { curl_multi_remove_handle(multi_, easy_); }
    AttachedTransfer(const AttachedTransfer&) = delete;
    AttachedTransfer& operator=(const AttachedTransfer&) = delete;

    CURLM* multi() const { return multi_; }

private:
    CURLM* multi_;
    CURL* easy_;
};

// How a transfer loop ended, before it becomes an Error.
struct Outcome {
    CURLcode code = CURLE_OK;
    std::string text; // empty: take curl's own text
};

CURLcode finishedResult(CURLM* multi) {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) {
            return message->data.result;
        }
    }
    return CURLE_FAILED_INIT;
}

// Drives the transfer with the multi interface so that a stop request wakes the wait at once
// and the time limits are measured to the millisecond.
Outcome runTransfer(CURLM* multi, TransferState& state, const TransferOptions& options) {
    std::stop_callback wake(options.stop, [multi] { curl_multi_wakeup(multi); });
    for (;;) {
        // Checked before each step, so a transfer stopped before it began sends nothing.
        if (options.stop.stop_requested()) {
            return {CURLE_ABORTED_BY_CALLBACK, StoppedText};
        }
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(multi, &running); code != CURLM_OK) {
            return {CURLE_FAILED_INIT, curl_multi_strerror(code)};
        }
        if (running == 0) {
            return {finishedResult(multi), {}};
        }
        const auto now = Clock::now();
        if (auto reason = state.watch.stalled(now)) {
            // A stalled transfer fails like a silent one, and is retried like one.
            return {CURLE_OPERATION_TIMEDOUT, std::move(*reason)};
        }
        curl_multi_poll(multi, nullptr, 0,
                        static_cast<int>(state.watch.untilNextCheck(now).count()), nullptr);
    }
}

[[noreturn]] void throwFailure(CURL* easy, const Outcome& outcome, const char* errorText) {
    if (outcome.code == CURLE_UNSUPPORTED_PROTOCOL) {
        // The first address was checked before anything was sent, so this is a redirect to a
        // refused scheme; libcurl has already made the target the effective address.
        char* target = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &target);
        throw unsupportedAddress(target != nullptr ? target : "");
    }
    std::string text = outcome.text;
    if (text.empty()) {
        text = errorText[0] != '\0' ? errorText : curl_easy_strerror(outcome.code);
    }
    throw Error("curl", outcome.code, text);
}

} // namespace

struct HttpSession::Connections {
    CurlMulti multi{curl_multi_init()};
};

HttpSession::HttpSession() : connections_(std::make_unique<Connections>()) {
    if (!connections_->multi) {
        throw std::bad_alloc();
    }
}

HttpSession::~HttpSession() = default;

void httpGet(const std::string& address, const TransferOptions& options, BodySink& sink,
             const std::optional<ResumeRequest>& resume, std::chrono::milliseconds totalTimeout) {
    HttpSession session;
    httpGet(session, address, options, sink, resume, totalTimeout);
}

void httpGet(HttpSession& session, const std::string& address, const TransferOptions& options,
             BodySink& sink, const std::optional<ResumeRequest>& resume,
             std::chrono::milliseconds totalTimeout) {
    const CurlUrl url = parseTransferAddress(address, options.allowPlainHttp);
    const CurlList headers = requestHeaders(resume);
    const CurlEasy easy(curl_easy_init());
    if (!easy) {
        throw std::bad_alloc();
    }
    TransferState state(easy.get(), sink, StallWatch(options, totalTimeout, Clock::now()));
    std::array<char, CURL_ERROR_SIZE> errorText{};
    configure(easy.get(), url.get(), headers.get(), options, state, errorText.data());

    const AttachedTransfer transfer(session.connections_->multi.get(), easy.get());
    const Outcome outcome = runTransfer(transfer.multi(), state, options);
    if (state.sinkFailure) {
        std::rethrow_exception(state.sinkFailure);
    }
    if (outcome.code != CURLE_OK) {
        throwFailure(easy.get(), outcome, errorText.data());
    }
    if (!state.begun) {
        beginBody(state);
    }
}

Error transferStopped() {
    return Error("curl", CURLE_ABORTED_BY_CALLBACK, StoppedText);
}

} // namespace Core::Transfer
