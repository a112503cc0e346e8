// HEAD and GET over HTTP/2 where TLS offers it, else HTTP/1.1; one connection reused for a whole
// download, or for a whole run's downloads over the engine of a pool.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>

#include <vector>

#include "core/download/proxy_routes.h"
#include "core/download/transfer_engine.h"
#include "core/download/transport_options.h"
#include "core/support/error.h"

namespace qiv_start::core {

// The server refused the connection, or did not answer in time.
class TNoAnswerError : public TError {
  public:
    explicit TNoAnswerError(const std::string& message) : TError(message) {}
};

// The server answered, with a status other than 2xx.
class THttpStatusError : public TError {
  public:
    explicit THttpStatusError(const std::string& message) : TError(message) {}
};

// The stall rule abandoned the transfer: it moved too little over a whole window.
class TStalledError : public TError {
  public:
    explicit TStalledError(const std::string& message) : TError(message) {}
};

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

// What an answer says of the copy it describes: its length (-1 when not announced) and a
// validator that names this very copy (a strong ETag, else Last-Modified; empty when neither).
struct TCopyInfo {
    std::int64_t length = -1;
    std::string validator;
};

// Where a body begins: 0 for a whole copy, else the offset that a range answer starts at.
struct TBodyStart {
    std::int64_t offset = 0;
    TCopyInfo copy;
};

class THttpClient {
  public:
    // Receives each piece of a body as it arrives; may raise, which ends the transfer.
    using TReceiver = std::function<void(const char* data, std::size_t size)>;
    // Told where the body begins, before its first piece; may raise, which ends the transfer.
    using TStarter = std::function<void(const TBodyStart& start)>;

    // With a share, the client takes part in it; the share must outlive the client. Each request
    // goes the way that routes gives for its server (routes of its own when none are given; they
    // must outlive the client). With an engine, which must outlive the client too, transfers run
    // on the engine's thread, side by side with those of other clients; receive and start are
    // still called on the thread that called get, as without one.
    explicit THttpClient(const TTransportOptions& options, THttpShare* share = nullptr,
                         TProxyRoutes* routes = nullptr,
                         TTransferEngine* engine = nullptr);  // raises TError
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // What the answer says of the copy. Raises TError unless the server answers with a 2xx
    // status; its text is the reason, for the run log. So do the others: TNoAnswerError when the
    // server cannot be reached or sends nothing within the answer time after the request,
    // TStalledError when the stall rule abandons the transfer.
    TCopyInfo head(const std::string& url);
    // Raises TError unless the server answers with a 2xx status and delivers the whole body; an
    // error raised by receive or start is raised again. With from > 0, asks for the rest of the
    // copy named by if_range from that offset on; the server may send the whole copy instead,
    // which start then tells. A range that does not begin at from is refused.
    void get(const std::string& url, const TReceiver& receive, const TStarter& start = {},
             std::int64_t from = 0, const std::string& if_range = {});

    // Once a stop is requested through the token, a transfer under way ends soon with an error.
    // A default token never stops.
    void set_stop(std::stop_token stop) { stop_ = std::move(stop); }

    // The lines for the run log that the requests since the last call brought: how each server
    // met for the first time in the run is reached.
    std::vector<std::string> take_notes() { return std::exchange(notes_, {}); }

  private:
    struct TTransfer;
    static TBodyStart body_start(TTransfer& transfer);
    static void begin_body(TTransfer& transfer);
    static std::size_t hand_on(TTransfer& transfer, const char* data, std::size_t size);
    int run_on_engine(TTransfer& transfer, const std::string& url);
    void deliver(TTransfer& transfer, const std::optional<TBodyStart>& start,
                 const std::string& piece, std::uint64_t id);
    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* transfer);
    static int on_progress(void* transfer, std::int64_t, std::int64_t, std::int64_t, std::int64_t);
    static bool shares_moving_link(TTransfer& transfer, std::int64_t moved);
    void perform(const std::string& url, TTransfer& transfer);
    void take_route(const std::string& url);

    struct TCurlDeleter {
        void operator()(void* handle) const;
    };
    TTransportOptions options_;
    std::unique_ptr<void, TCurlDeleter> curl_;
    std::stop_token stop_;
    TTransferEngine* engine_;
    std::unique_ptr<TProxyRoutes> own_routes_;
    TProxyRoutes* routes_;
    std::string proxy_;  // of the current request, for the reason of a failure
    std::vector<std::string> notes_;
};

}  // namespace qiv_start::core
