// HEAD and GET over HTTP/2 where TLS offers it, else HTTP/1.1, over the engine of a pool, whose
// connections a whole run's downloads reuse.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "core/download/proxy_routes.h"
#include "core/download/transfer_engine.h"
#include "core/download/transport_options.h"
#include "core/support/error.h"

struct curl_slist;

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
    // Told once that a transfer has ended: with nothing when it succeeded, else with why not.
    using TDone = std::function<void(std::exception_ptr failure)>;

    // With a share, the client takes part in it; the share must outlive the client. Each request
    // goes the way that routes gives for its server (routes of its own when none are given; they
    // must outlive the client). Transfers run on the engine's thread, which must outlive the
    // client too, side by side with those of other clients.
    THttpClient(const TTransportOptions& options, TTransferEngine& engine,
                THttpShare* share = nullptr, TProxyRoutes* routes = nullptr);  // raises TError
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // Each starts a transfer and returns at once; both raise TError when it cannot be started.
    // receive, start and done are called on the engine's thread, and the client is left alone
    // until done has been called.
    //
    // HEAD: done is told, unless the server answers with a 2xx status, a TError whose text is the
    // reason, for the run log; so is any other failure: TNoAnswerError when the server cannot be
    // reached or sends nothing within the answer time after the request, TStalledError when the
    // stall rule abandons the transfer. copy() then tells what the answer says of the copy.
    void start_head(const std::string& url, TDone done);
    const TCopyInfo& copy() const { return copy_; }
    // GET: done is told an error as for HEAD unless the server answers with a 2xx status and
    // delivers the whole body; an error raised by receive or start is told too. With from > 0,
    // asks for the rest of the copy named by if_range from that offset on; the server may send
    // the whole copy instead, which start then tells. A range that does not begin at from is
    // refused.
    void start_get(const std::string& url, TReceiver receive, TStarter start, std::int64_t from,
                   const std::string& if_range, TDone done);

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
    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* transfer);
    static int on_progress(void* transfer, std::int64_t, std::int64_t, std::int64_t, std::int64_t);
    static bool shares_moving_link(TTransfer& transfer, std::int64_t moved, std::int64_t received);
    void launch(const std::string& url, std::unique_ptr<TTransfer> transfer);
    void complete(int result);
    void conclude(TTransfer& transfer, int result);
    void clear_range();
    void take_route(const std::string& url);

    struct TCurlDeleter {
        void operator()(void* handle) const;
    };
    struct TListDeleter {
        void operator()(curl_slist* list) const;
    };
    TTransportOptions options_;
    std::unique_ptr<void, TCurlDeleter> curl_;
    std::stop_token stop_;
    TTransferEngine& engine_;
    std::unique_ptr<TProxyRoutes> own_routes_;
    TProxyRoutes* routes_;
    std::string proxy_;  // of the current request, for the reason of a failure
    std::vector<std::string> notes_;
    std::unique_ptr<TTransfer> current_;  // the transfer under way, the engine's meanwhile
    TCopyInfo copy_;                      // what the last head found
    std::unique_ptr<curl_slist, TListDeleter> range_header_;  // of the current get
};

}  // namespace qiv_start::core
