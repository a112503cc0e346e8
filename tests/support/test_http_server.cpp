#include "support/test_http_server.h"

#include <httplib.h>

#include <algorithm>
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
    kTrickle,
    kResumable
};

struct TScript {
    TKind kind = TKind::kFail;
    int status = 404;
    std::string bytes;
    std::size_t sent = 0;
    std::string location;
    std::chrono::milliseconds period{0};
    std::string validator;
    std::string part_validator;  // of a 206 answer
    bool honour_ranges = true;
    // Large copies are shared by the answers rather than copied for each.
    std::shared_ptr<const std::string> shared;
};

// The N of "bytes=N-", when the header is just that and N lies inside the bytes.
std::size_t range_start(const std::string& header, std::size_t size) {
    if (!header.starts_with("bytes=") || !header.ends_with("-"))
        return 0;
    const std::string digits = header.substr(6, header.size() - 7);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const std::size_t start = std::stoul(digits);
    return start < size ? start : 0;
}

TScript make_script(TKind kind, int status = 200, std::string bytes = {}, std::size_t sent = 0,
                    std::string location = {}) {
    TScript script;
    script.kind = kind;
    script.status = status;
    script.bytes = std::move(bytes);
    script.sent = sent;
    script.location = std::move(location);
    return script;
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
    void answer(const TScript& script, const httplib::Request& request,
                httplib::Response& response);
    static void answer_resumable(const TScript& script, const httplib::Request& request,
                                 httplib::Response& response);
    static std::size_t answer_range(const TScript& script, const httplib::Request& request,
                                    httplib::Response& response, std::size_t size);
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
        const std::string range = request.get_header_value("Range");
        requests.push_back(request.method + " " + request.target +
                           (range.empty() ? "" : " " + range));
        client_ports.insert(request.remote_port);
        auto found = scripts.find(request.target);
        if (found == scripts.end())
            found = scripts.find(request.target.substr(0, request.target.find('?')));
        if (found != scripts.end())
            script = found->second;
    }
    answer(script, request, response);
}

void TTestHttpServer::Impl::answer(const TScript& script, const httplib::Request& request,
                                   httplib::Response& response) {
    const std::string& method = request.method;
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
            const std::size_t from = answer_range(script, request, response, bytes.size());
            response.set_content_provider(
                bytes.size() - from, kContentType,
                [this, bytes, period, from](std::size_t offset, std::size_t,
                                            httplib::DataSink& sink) {
                    return pause(period) && sink.write(bytes.data() + from + offset, 1);
                });
            break;
        }
        case TKind::kResumable:
            answer_resumable(script, request, response);
            break;
        case TKind::kStallAnswer:
            wait_for_release();
            response.status = 503;
            break;
    }
}

void TTestHttpServer::Impl::answer_resumable(const TScript& script, const httplib::Request& request,
                                             httplib::Response& response) {
    const std::shared_ptr<const std::string> shared = script.shared;
    const std::size_t from = answer_range(script, request, response, shared->size());
    const std::size_t drop = script.sent;
    response.set_content_provider(
        shared->size() - from, kContentType,
        [shared, from, drop](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (drop != 0 && offset >= drop)
                return false;
            const std::size_t piece = drop != 0 ? std::min(length, drop - offset) : length;
            return sink.write(shared->data() + from + offset,
                              std::min<std::size_t>(piece, 64 * 1024));
        });
}

// The validator, and for a range that If-Range names, the 206 status: where the body starts. The
// library would answer a range itself, and with a range of any copy: the script decides instead,
// so the request's parsed ranges are dropped.
std::size_t TTestHttpServer::Impl::answer_range(const TScript& script,
                                                const httplib::Request& request,
                                                httplib::Response& response, std::size_t size) {
    const_cast<httplib::Request&>(request).ranges.clear();
    if (script.validator.empty())
        return 0;
    std::size_t from = 0;
    if (script.honour_ranges && request.get_header_value("If-Range") == script.validator)
        from = range_start(request.get_header_value("Range"), size);
    response.set_header("ETag", from > 0 ? script.part_validator : script.validator);
    if (from > 0) {
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                 std::to_string(size - 1) + "/" +
                                                 std::to_string(size));
    }
    return from;
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

std::string TTestHttpServer::base_url(const std::string& host) const {
    return std::string(impl_->scheme == kHttps ? "https" : "http") + "://" + host + ":" +
           std::to_string(impl_->port) + "/";
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
                              std::chrono::milliseconds period, const std::string& validator) {
    TScript script = make_script(TKind::kTrickle, 200, std::move(bytes));
    script.period = period;
    script.validator = validator;
    script.part_validator = validator;
    impl_->script(name, std::move(script));
}

void TTestHttpServer::serve_resumable(const std::string& name, std::string bytes,
                                      const std::string& validator, std::size_t drop_every,
                                      bool honour_ranges, const std::string& part_validator) {
    TScript script = make_script(TKind::kResumable, 200, {}, drop_every);
    script.shared = std::make_shared<const std::string>(std::move(bytes));
    script.validator = validator;
    script.part_validator = part_validator.empty() ? validator : part_validator;
    script.honour_ranges = honour_ranges;
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
