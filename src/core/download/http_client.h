// HEAD and GET over HTTP/1.1 with TLS, one connection reused for a whole download.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "core/download/transport_options.h"

namespace qiv_start::core {

// Sets up the HTTP library for the whole process; call it before the first client is made on a
// thread of its own. Raises TError.
void prepare_http_clients();

// What clients on several threads may share: TLS sessions, so a new connection to a server
// resumes the session of an earlier one, and DNS answers. Outlives the clients that use it.
class THttpShare {
  public:
    THttpShare();  // raises TError
    ~THttpShare();
    THttpShare(const THttpShare&) = delete;
    THttpShare& operator=(const THttpShare&) = delete;

    void* handle() const { return share_; }

  private:
    void* share_ = nullptr;
    // One lock per kind of shared data, as the HTTP library requires.
    std::array<std::mutex, 16> locks_;
};

class THttpClient {
  public:
    // Receives each piece of a body as it arrives; may raise, which ends the transfer.
    using TReceiver = std::function<void(const char* data, std::size_t size)>;

    // With a share, the client takes part in it; the share must outlive the client.
    explicit THttpClient(const TTransportOptions& options,
                         THttpShare* share = nullptr);  // raises TError
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // The Content-Length that the answer announces, or -1 when it announces none.
    // Raises TError unless the server answers with a 2xx status; its text is the reason, for the
    // run log. So do the others.
    std::int64_t head(const std::string& url);
    // Raises TError unless the server answers with a 2xx status and delivers the whole body; an
    // error raised by receive is raised again.
    void get(const std::string& url, const TReceiver& receive);

    // Once a stop is requested through the token, a transfer under way ends soon with an error.
    // A default token never stops.
    void set_stop(std::stop_token stop) { stop_ = std::move(stop); }

  private:
    struct TTransfer;
    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* transfer);
    static int on_progress(void* transfer, std::int64_t, std::int64_t, std::int64_t, std::int64_t);
    void perform(const std::string& url, TTransfer& transfer);

    struct TCurlDeleter {
        void operator()(void* handle) const;
    };
    TTransportOptions options_;
    std::unique_ptr<void, TCurlDeleter> curl_;
    std::stop_token stop_;
};

}  // namespace qiv_start::core
