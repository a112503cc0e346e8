#include "support/test_http_server.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace qiv_start::test {
namespace {

enum class TKind {
    kServe,
    kChunked,
    kOtherLength,
    kFail,
    kRedirect,
    kCutShort,
    kStallBody,
    kStallAnswer,
    kTrickle
};

struct TScript {
    TKind kind = TKind::kFail;
    int status = 404;
    std::string bytes;
    std::size_t sent = 0;
    std::string location;
    std::chrono::milliseconds period{0};
};

TScript make_script(TKind kind, int status = 200, std::string bytes = {}, std::size_t sent = 0,
                    std::string location = {}) {
    return {kind, status, std::move(bytes), sent, std::move(location)};
}

const char* const kContentType = "application/octet-stream";

}  // namespace

struct TTestHttpServer::Impl {
    TScheme scheme;
    TTempDir directory;
    TTestCertificates certificates;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable stall_ended;
    bool released = false;
    bool stopping = false;
    std::map<std::string, TScript> scripts;
    std::vector<std::string> requests;
    std::set<int> client_ports;

    Impl(TScheme s, int keep_alive_seconds);
    ~Impl();
    void script(const std::string& name, TScript script);
    void handle(const httplib::Request& request, httplib::Response& response);
    void answer(const TScript& script, const std::string& method, httplib::Response& response);
    bool wait_for_release();
    bool pause(std::chrono::milliseconds period);
    void end_stalls(bool& reason);
};

TTestHttpServer::Impl::Impl(TScheme s, int keep_alive_seconds) : scheme(s) {
    if (scheme == kHttps) {
        certificates = create_test_certificates(directory.path());
        server = std::make_unique<httplib::SSLServer>(certificates.cert_file.c_str(),
                                                      certificates.key_file.c_str());
    } else {
        server = std::make_unique<httplib::Server>();
    }
    if (!server->is_valid())
        throw std::runtime_error("test server cannot be set up");
    server->set_keep_alive_timeout(keep_alive_seconds);
    // A client may go on over one connection for as long as it likes, as nginx lets it, and
    // stalled answers and idle connections must not keep others waiting for a thread.
    server->set_keep_alive_max_count(1000);
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response);
    });
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error("test server cannot listen");
    listener = std::thread([this] { server->listen_after_bind(); });
    // stop() does nothing before the server runs, so do not hand it out earlier.
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TTestHttpServer::Impl::~Impl() {
    end_stalls(stopping);
    server->stop();
    listener.join();
}

void TTestHttpServer::Impl::script(const std::string& name, TScript script) {
    std::lock_guard lock(mutex);
    scripts["/" + name] = std::move(script);
}

void TTestHttpServer::Impl::handle(const httplib::Request& request, httplib::Response& response) {
    TScript script;
    {
        std::lock_guard lock(mutex);
        requests.push_back(request.method + " " + request.target);
        client_ports.insert(request.remote_port);
        const auto found = scripts.find(request.target);
        if (found != scripts.end())
            script = found->second;
    }
    answer(script, request.method, response);
}

void TTestHttpServer::Impl::answer(const TScript& script, const std::string& method,
                                   httplib::Response& response) {
    const std::string bytes = script.bytes;
    const std::size_t sent = script.sent;
    if (script.kind == TKind::kOtherLength && method == "HEAD") {
        response.set_content(std::string(sent, '\0'), kContentType);
        return;
    }
    switch (script.kind) {
        case TKind::kServe:
            response.set_content(bytes, kContentType);
            break;
        case TKind::kChunked:
        case TKind::kOtherLength:
            response.set_chunked_content_provider(kContentType,
                                                  [bytes](std::size_t, httplib::DataSink& sink) {
                                                      sink.write(bytes.data(), bytes.size());
                                                      sink.done();
                                                      return true;
                                                  });
            break;
        case TKind::kFail:
            response.status = script.status;
            response.set_content("error page", "text/plain");
            break;
        case TKind::kRedirect:
            response.set_redirect(script.location, script.status);
            response.set_content("moved", "text/plain");
            break;
        case TKind::kCutShort:
        case TKind::kStallBody: {
            const bool stall = script.kind == TKind::kStallBody;
            response.set_content_provider(
                bytes.size(), kContentType,
                [this, bytes, sent, stall](std::size_t, std::size_t, httplib::DataSink& sink) {
                    if (sent > 0)
                        sink.write(bytes.data(), sent);
                    // Returning false closes the connection before the announced end.
                    if (!stall || !wait_for_release())
                        return false;
                    sink.write(bytes.data() + sent, bytes.size() - sent);
                    return true;
                });
            break;
        }
        case TKind::kTrickle: {
            const auto period = script.period;
            response.set_content_provider(
                bytes.size(), kContentType,
                [this, bytes, period](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    return pause(period) && sink.write(bytes.data() + offset, 1);
                });
            break;
        }
        case TKind::kStallAnswer:
            wait_for_release();
            response.status = 503;
            break;
    }
}

// True when released, false when the server stops first.
bool TTestHttpServer::Impl::wait_for_release() {
    std::unique_lock lock(mutex);
    stall_ended.wait(lock, [this] { return released || stopping; });
    return !stopping;
}

// True after the period, false as soon as the server stops.
bool TTestHttpServer::Impl::pause(std::chrono::milliseconds period) {
    std::unique_lock lock(mutex);
    return !stall_ended.wait_for(lock, period, [this] { return stopping; });
}

void TTestHttpServer::Impl::end_stalls(bool& reason) {
    {
        std::lock_guard lock(mutex);
        reason = true;
    }
    stall_ended.notify_all();
}

TTestHttpServer::TTestHttpServer(TScheme scheme, int keep_alive_seconds)
    : impl_(std::make_unique<Impl>(scheme, keep_alive_seconds)) {}

TTestHttpServer::~TTestHttpServer() = default;

std::string TTestHttpServer::base_url() const {
    return std::string(impl_->scheme == kHttps ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(impl_->port) + "/";
}

const std::string& TTestHttpServer::ca_file() const {
    return impl_->certificates.ca_file;
}

void TTestHttpServer::serve(const std::string& name, std::string bytes) {
    impl_->script(name, make_script(TKind::kServe, 200, std::move(bytes)));
}

void TTestHttpServer::serve_chunked(const std::string& name, std::string bytes) {
    impl_->script(name, make_script(TKind::kChunked, 200, std::move(bytes)));
}

void TTestHttpServer::serve_longer(const std::string& name, std::string bytes,
                                   std::size_t announced) {
    impl_->script(name, make_script(TKind::kOtherLength, 200, std::move(bytes), announced));
}

void TTestHttpServer::serve_shorter(const std::string& name, std::string bytes,
                                    std::size_t announced) {
    serve_longer(name, std::move(bytes), announced);
}

void TTestHttpServer::fail(const std::string& name, int status) {
    impl_->script(name, make_script(TKind::kFail, status));
}

void TTestHttpServer::redirect(const std::string& name, int status, const std::string& location) {
    impl_->script(name, make_script(TKind::kRedirect, status, {}, 0, location));
}

void TTestHttpServer::cut_short(const std::string& name, std::string bytes, std::size_t sent) {
    impl_->script(name, make_script(TKind::kCutShort, 200, std::move(bytes), sent));
}

void TTestHttpServer::stall_body(const std::string& name, std::string bytes, std::size_t sent) {
    impl_->script(name, make_script(TKind::kStallBody, 200, std::move(bytes), sent));
}

void TTestHttpServer::trickle(const std::string& name, std::string bytes,
                              std::chrono::milliseconds period) {
    TScript script = make_script(TKind::kTrickle, 200, std::move(bytes));
    script.period = period;
    impl_->script(name, std::move(script));
}

void TTestHttpServer::stall_answer(const std::string& name) {
    impl_->script(name, make_script(TKind::kStallAnswer));
}

void TTestHttpServer::release_stalls() {
    impl_->end_stalls(impl_->released);
}

std::vector<std::string> TTestHttpServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t TTestHttpServer::connections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->client_ports.size();
}

}  // namespace qiv_start::test
