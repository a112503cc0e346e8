#include "core/download/connection_pool.h"

#include <utility>

namespace qiv_start::core {

void TConnectionPool::TReturn::operator()(THttpClient* client) const {
    pool->give_back(client);
}

TConnectionPool::TConnectionPool(TTransportOptions options) : options_(std::move(options)) {}

TConnectionPool::TLoan TConnectionPool::borrow() {
    {
        std::lock_guard lock(idle_mutex_);
        if (!idle_.empty()) {
            THttpClient* client = idle_.back().release();
            idle_.pop_back();
            return TLoan(client, TReturn{this});
        }
    }
    return TLoan(new THttpClient(options_, engine_, &share_, &routes_), TReturn{this});
}

void TConnectionPool::give_back(THttpClient* client) {
    std::unique_ptr<THttpClient> owned(client);
    owned->set_stop({});
    try {
        std::lock_guard lock(idle_mutex_);
        idle_.push_back(std::move(owned));
    } catch (...) {
        // Out of memory: the client and its connection are let go; the next loan opens anew.
    }
}

}  // namespace qiv_start::core
