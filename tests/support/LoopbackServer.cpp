#include "support/LoopbackServer.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <strings.h>

namespace {

// cpp-httplib adds the peer's and its own address as pseudo-headers; the client never sent them.
bool isPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

} // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

LoopbackServer::LoopbackServer(int port)
    : LoopbackServer(std::make_unique<httplib::Server>(), "http", port) {}

LoopbackServer::LoopbackServer(const TlsIdentity& identity)
    : LoopbackServer(std::make_unique<httplib::SSLServer>(identity.certificate.c_str(),
                                                          identity.privateKey.c_str()),
                     "https", 0) {}

LoopbackServer::LoopbackServer(std::unique_ptr<httplib::Server> server, std::string scheme,
                               int port)
    : server_(std::move(server)), scheme_(std::move(scheme)) {
    if (!server_->is_valid()) {
        throw std::runtime_error("loopback server cannot load its certificate");
    }
    // Short keep-alive so that stopping never waits long on an idle connection.
    server_->set_keep_alive_timeout(1);
    // SO_REUSEADDR only: cpp-httplib's default SO_REUSEPORT would let a second test run bind the
    // same fixed port and silently answer the first run's launcher.
    server_->set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        dispatch(request, response);
    });
    if (port == 0) {
        port_ = server_->bind_to_any_port("127.0.0.1");
    } else if (server_->bind_to_port("127.0.0.1", port)) {
        port_ = port;
    }
    if (port_ <= 0) {
        throw std::runtime_error("loopback server cannot bind to 127.0.0.1");
    }
    listener_ = std::thread([this] {
        server_->listen_after_bind();
        listenerEnded_ = true;
    });
    // cpp-httplib ignores stop() until its loop runs: a server stopped sooner would never end.
    while (!server_->is_running() && !listenerEnded_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stoppingChanged_.notify_all();
    server_->stop();
    listener_.join();
}

std::string LoopbackServer::url(std::string_view path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void LoopbackServer::serve(const std::string& path, std::string body, int status) {
    serveFile(path, {{.body = std::move(body), .honourRange = false, .status = status}});
}

void LoopbackServer::serveChunked(const std::string& path, std::string body, std::string etag) {
    serveFile(path, {{.body = std::move(body), .etag = std::move(etag), .chunked = true}});
}

void LoopbackServer::stall(const std::string& path, std::chrono::milliseconds duration) {
    serveFile(path, {{.silence = duration}});
}

void LoopbackServer::redirect(const std::string& path, std::string location, int status) {
    addRoute(path, [location = std::move(location), status](const httplib::Request&,
                                                            httplib::Response& response) {
        response.set_redirect(location, status);
    });
}

void LoopbackServer::serveFile(const std::string& path, std::vector<FileAnswer> answers) {
    auto requestCount = std::make_shared<std::atomic<std::size_t>>(0);
    auto shared = std::make_shared<const std::vector<FileAnswer>>(std::move(answers));
    addRoute(path, [this, requestCount, shared](const httplib::Request& request,
                                                httplib::Response& response) {
        const std::size_t n = std::min((*requestCount)++, shared->size() - 1);
        answerFile(request, std::shared_ptr<const FileAnswer>(shared, &(*shared)[n]), response);
    });
}

void LoopbackServer::answerFile(const httplib::Request& request,
                                std::shared_ptr<const FileAnswer> shared,
                                httplib::Response& response) {
    const FileAnswer& answer = *shared;
    if (answer.status != 200) {
        response.status = answer.status;
        response.set_content(answer.body, "application/octet-stream");
        return;
    }
    if (answer.silence.count() > 0) {
        waitUnlessStopping(answer.silence);
        // Closing without an answer: the client sees the connection end.
        response.set_content_provider(
            1, "text/plain", [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        return;
    }
    if (!answer.etag.empty()) {
        response.set_header("ETag", answer.etag);
    }
    if (answer.chunked) {
        response.set_chunked_content_provider(
            "application/octet-stream", [shared](std::size_t offset, httplib::DataSink& sink) {
                const std::string& body = shared->body;
                if (offset >= body.size()) {
                    sink.done();
                    return true;
                }
                return sink.write(body.data() + offset,
                                  std::min<std::size_t>(4096, body.size() - offset));
            });
        return;
    }
    const std::size_t size = answer.body.size();
    std::size_t start = 0;
    std::size_t stop = size;
    const std::string range = request.get_header_value("Range");
    if (answer.honourRange && range.starts_with("bytes=") &&
        (!request.has_header("If-Range") || request.get_header_value("If-Range") == answer.etag)) {
        const std::size_t dash = range.find('-');
        start = std::stoul(range.substr(6, dash - 6));
        if (dash + 1 < range.size()) {
            stop = std::min(size, std::stoul(range.substr(dash + 1)) + 1);
        }
        if (start >= size) {
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        if (answer.misplacedRange) {
            start = 0;
            stop = size;
        }
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(start) + "-" +
                                                 std::to_string(stop - 1) + "/" +
                                                 std::to_string(size));
    }
    const std::size_t length = stop - start;
    const std::size_t end = std::min(stop, answer.cutAt.value_or(size));
    // The provider runs after this handler returns, so it shares the answer.
    response.set_content_provider(
        answer.announcedLength ? *answer.announcedLength - start : length,
        "application/octet-stream",
        [this, shared, start, end](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            const std::size_t from = start + offset;
            if (from >= end) {
                waitUnlessStopping(shared->holdAtCut);
                return false;
            }
            waitUnlessStopping(shared->piecePause);
            const std::size_t count = std::min(shared->pieceBytes, end - from);
            return sink.write(shared->body.data() + from, count);
        });
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int LoopbackServer::requestsFor(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(requests_.begin(), requests_.end(),
                      [path](const auto& request) { return request.path == path; }));
}

void LoopbackServer::addRoute(const std::string& path, RequestRoute route) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
}

void LoopbackServer::dispatch(const httplib::Request& request, httplib::Response& response) {
    RequestRoute route;
    {
        std::lock_guard lock(mutex_);
        RecordedRequest& recorded = requests_.emplace_back();
        recorded.path = request.path;
        for (const auto& [name, value] : request.headers) {
            if (!isPseudoHeader(name)) {
                recorded.headers.emplace_back(name, value);
            }
        }
        // cpp-httplib cuts every answer to the request's Range by itself; the routes decide
        // that here, as a real server would, so the ranges it parsed are dropped. The request
        // object is not const: cpp-httplib hands its own local variable to the handler.
        const_cast<httplib::Request&>(request).ranges.clear();
        if (const auto found = routes_.find(request.path); found != routes_.end()) {
            route = found->second;
        }
    }
    if (!route) {
        response.status = 404;
        response.set_content("not found", "text/plain");
        return;
    }
    route(request, response);
}

void LoopbackServer::waitUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    stoppingChanged_.wait_for(lock, duration, [this] { return stopping_; });
}

Core::Transfer::TransferOptions loopbackTransferOptions() {
    Core::Transfer::TransferOptions options;
    options.connectTimeout = std::chrono::seconds(1);
    options.idleTimeout = std::chrono::seconds(1);
    options.allowPlainHttp = true;
    options.retryDelays.clear();
    return options;
}
