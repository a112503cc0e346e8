// The connections of one run's downloads, kept so that a server reached once costs no new
// connection or handshake.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "core/download/http_client.h"
#include "core/download/proxy_routes.h"
#include "core/download/transport_options.h"

namespace qiv_start::core {

// Each client keeps its connection open after a transfer; a download borrows an idle client and
// so goes on over a connection that an earlier download opened. A client is used by one thread
// at a time, so no connection is ever touched by two threads at once; what the clients share
// across threads (TLS sessions, DNS answers) goes through an HTTP share under its locks.
// Downloads on several threads may borrow at the same time. The pool outlives its loans.
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

  private:
    void give_back(THttpClient* client);

    TTransportOptions options_;
    THttpShare share_;
    // The run's proxy for each server, asked once and said once in the run log.
    TProxyRoutes routes_;
    std::mutex idle_mutex_;
    // Declared after the share: clients are cleaned up before the share they use.
    std::vector<std::unique_ptr<THttpClient>> idle_;
};

}  // namespace qiv_start::core
