// The connections of one run's downloads, kept so that a server reached once costs no new
// connection or handshake.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/download/http_client.h"
#include "core/download/proxy_routes.h"
#include "core/download/transfer_engine.h"
#include "core/download/transport_options.h"

namespace qiv_start::core {

// The clients' transfers all run on the pool's engine, whose connections stay open after a
// transfer: a download goes on over a connection that an earlier download opened, and over
// HTTP/2 the downloads under way at once share one connection per server. Only the engine's
// thread touches the connections; what the clients share across threads (TLS sessions, DNS
// answers) goes through an HTTP share under its locks. Downloads on several threads may borrow
// at the same time. The pool outlives its loans.
class TConnectionPool {
  public:
    struct TReturn {
        TConnectionPool* pool;
        void operator()(THttpClient* client) const;
    };
    using TLoan = std::unique_ptr<THttpClient, TReturn>;

    explicit TConnectionPool(TTransportOptions options = {});  // raises TError
    TConnectionPool(const TConnectionPool&) = delete;
    TConnectionPool& operator=(const TConnectionPool&) = delete;

    // An idle client, or a new one when all are in use. Raises TError.
    TLoan borrow();

    const TTransportOptions& options() const { return options_; }

    // Whether a transfer to the URL's server came back over HTTP/2: many downloads from it may
    // then run at once at the cost of one connection.
    bool multiplexes(const std::string& url) const { return engine_.multiplexes(url); }

  private:
    void give_back(THttpClient* client);

    TTransportOptions options_;
    THttpShare share_;
    // The run's proxy for each server, asked once and said once in the run log.
    TProxyRoutes routes_;
    // Declared after the share: its connections close before the share they used goes.
    TTransferEngine engine_;
    std::mutex idle_mutex_;
    // Declared after the share and the engine: clients are cleaned up before either.
    std::vector<std::unique_ptr<THttpClient>> idle_;
};

}  // namespace qiv_start::core
