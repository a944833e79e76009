#pragma once

#include "core/transfer/Transfer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// How one request for a path served with LoopbackServer::serveFile is answered.
struct FileAnswer {
    // Every member has an initializer, so designated initializers may leave any out.
    std::string body{}; // the whole file as it stands at this request
    // Sent as the ETag when not empty. A request whose If-Range differs gets the whole body.
    std::string etag{};
    // False: Range is ignored and the whole body sent with 200, as by servers without ranges.
    bool honourRange = true;
    // True: a range request is answered 206 with the whole body, claiming it starts at 0.
    bool misplacedRange = false;
    // The Content-Length to claim instead of the body's own.
    std::optional<std::size_t> announcedLength{};
    // Anything but 200: that status with the body as it is, nothing else applies.
    int status = 200;
    // The connection closes once the body has been sent up to this offset of the file, after
    // `holdAtCut` of silence.
    std::optional<std::size_t> cutAt{};
    std::chrono::milliseconds holdAtCut{0};
    // The body goes out in pieces of this many bytes, each after this pause: a slow host.
    std::size_t pieceBytes = 64 * 1024;
    std::chrono::milliseconds piecePause{0};
    // True: in chunks of at most 4 KiB without a Content-Length, ranges ignored.
    bool chunked = false;
    // Silence for this long (or until the server stops) before any header, then the
    // connection closes; nothing else applies.
    std::chrono::milliseconds silence{0};
};

// One request as the server received it.
struct RecordedRequest {
    std::string path;
    // Every header the client sent, sorted by name.
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the first header with this name (compared without case), if any.
    std::optional<std::string> header(std::string_view name) const;
};

// The certificate (PEM, with any intermediates) and private key an https server presents.
struct TlsIdentity {
    std::filesystem::path certificate;
    std::filesystem::path privateKey;
};

// An HTTP server on 127.0.0.1 at a free port, running on its own threads from construction to
// destruction. Routes answer GET for their exact path and may be added at any time; any other
// path gets 404. Every request is recorded. The destructor stops the server and joins its
// threads; a stalled answer gives up at once when the server stops.
class LoopbackServer {
public:
    // Binds `port`, or a free port when it is 0 (a fixed port is for the tests that start the
    // loopback-host executable, whose release host is compiled in).
    explicit LoopbackServer(int port = 0);
    // The same server speaking https with `identity`, at a free port.
    explicit LoopbackServer(const TlsIdentity& identity);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" (https for a TLS server) followed by the path, which starts
    // with "/".
    std::string url(std::string_view path) const;

    // The body with a Content-Length and the given status, ranges ignored.
    void serve(const std::string& path, std::string body, int status = 200);
    // The body without a Content-Length (see FileAnswer::chunked); with an ETag unless empty.
    void serveChunked(const std::string& path, std::string body, std::string etag = "");
    // A redirect to `location`.
    void redirect(const std::string& path, std::string location, int status = 302);
    // See FileAnswer::silence. A body that stops half-way is a serveFile answer with `cutAt`.
    void stall(const std::string& path, std::chrono::milliseconds duration);

    // A path answered with answers[n] for its n-th request (counted from 0; the last answer
    // repeats). Honours "Range: bytes=<first>-[<last>]" with 206 and Content-Range, or 416 past
    // the end.
    void serveFile(const std::string& path, std::vector<FileAnswer> answers);

    // What has been received so far, in order.
    std::vector<RecordedRequest> requests() const;
    // How many of them asked for `path`.
    int requestsFor(std::string_view path) const;

private:
    using RequestRoute = std::function<void(const httplib::Request&, httplib::Response&)>;

    LoopbackServer(std::unique_ptr<httplib::Server> server, std::string scheme, int port);
    void addRoute(const std::string& path, RequestRoute route);
    void dispatch(const httplib::Request& request, httplib::Response& response);
    // Sleeps for `duration` or until the server stops, whichever comes first.
    void waitUnlessStopping(std::chrono::milliseconds duration);
    void answerFile(const httplib::Request& request, std::shared_ptr<const FileAnswer> answer,
                    httplib::Response& response);

    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = 0;

    mutable std::mutex mutex_; // guards everything below; written by the test and by handlers
    std::condition_variable stoppingChanged_;
    bool stopping_ = false;
    std::map<std::string, RequestRoute> routes_;
    std::vector<RecordedRequest> requests_;

    std::atomic<bool> listenerEnded_ = false;
    std::thread listener_; // last: started after everything above exists
};

// Options for transfers to a LoopbackServer: plain http allowed, one-second time-outs, one
// attempt per download (tests of retries set their own short delays).
Core::Transfer::TransferOptions loopbackTransferOptions();
