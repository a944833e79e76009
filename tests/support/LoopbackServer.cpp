#include "support/LoopbackServer.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <strings.h>

namespace {

// cpp-httplib adds the peer's and its own address as pseudo-headers; the client never sent them.
bool isPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

bool writeGenerated(std::size_t offset, std::size_t length, httplib::DataSink& sink) {
    std::array<char, 64 * 1024> piece{};
    const std::size_t count = std::min(length, piece.size());
    for (std::size_t i = 0; i < count; ++i) {
        piece[i] = static_cast<char>((offset + i) % 251);
    }
    return sink.write(piece.data(), count);
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

void LoopbackServer::serve(const std::string& path, std::string body, int status,
                           std::string contentType) {
    addRoute(path, [body = std::move(body), status,
                    contentType = std::move(contentType)](httplib::Response& response) {
        response.status = status;
        response.set_content(body, contentType);
    });
}

void LoopbackServer::serveChunked(const std::string& path, std::string body) {
    addRoute(path, [body = std::move(body)](httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [body](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= body.size()) {
                    sink.done();
                    return true;
                }
                const std::size_t count = std::min<std::size_t>(4096, body.size() - offset);
                return sink.write(body.data() + offset, count);
            });
    });
}

void LoopbackServer::serveGenerated(const std::string& path, std::int64_t size) {
    addRoute(path, [size](httplib::Response& response) {
        response.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream",
                                      writeGenerated);
    });
}

void LoopbackServer::redirect(const std::string& path, std::string location, int status) {
    addRoute(path, [location = std::move(location), status](httplib::Response& response) {
        response.set_redirect(location, status);
    });
}

void LoopbackServer::stall(const std::string& path, std::chrono::milliseconds duration,
                           std::string prefix) {
    if (prefix.empty()) {
        addRoute(path, [this, duration](httplib::Response& response) {
            waitUnlessStopping(duration);
            // Closing without an answer: the client sees the connection end.
            response.set_content_provider(
                1, "text/plain",
                [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        });
        return;
    }
    addRoute(path, [this, duration, prefix = std::move(prefix)](httplib::Response& response) {
        response.set_content_provider(
            prefix.size() + 1, "application/octet-stream",
            [this, duration, prefix](std::size_t, std::size_t, httplib::DataSink& sink) {
                sink.write(prefix.data(), prefix.size());
                waitUnlessStopping(duration);
                return false;
            });
    });
}

void LoopbackServer::closeMidBody(const std::string& path, std::string prefix,
                                  std::size_t announcedLength) {
    addRoute(path, [prefix = std::move(prefix), announcedLength](httplib::Response& response) {
        response.set_content_provider(announcedLength, "application/octet-stream",
                                      [prefix](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          sink.write(prefix.data(), prefix.size());
                                          return false;
                                      });
    });
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackServer::addRoute(const std::string& path, Route route) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
}

void LoopbackServer::dispatch(const httplib::Request& request, httplib::Response& response) {
    Route route;
    {
        std::lock_guard lock(mutex_);
        RecordedRequest& recorded = requests_.emplace_back();
        recorded.method = request.method;
        recorded.path = request.path;
        for (const auto& [name, value] : request.headers) {
            if (!isPseudoHeader(name)) {
                recorded.headers.emplace_back(name, value);
            }
        }
        if (const auto found = routes_.find(request.path); found != routes_.end()) {
            route = found->second;
        }
    }
    if (!route) {
        response.status = 404;
        response.set_content("not found", "text/plain");
        return;
    }
    route(response);
}

void LoopbackServer::waitUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    stoppingChanged_.wait_for(lock, duration, [this] { return stopping_; });
}

TransferOptions loopbackTransferOptions() {
    TransferOptions options;
    options.connectTimeout = std::chrono::seconds(1);
    options.idleTimeout = std::chrono::seconds(1);
    options.allowPlainHttp = true;
    return options;
}
