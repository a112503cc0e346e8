// One thread that drives the transfers of a run together, so that those to one server can share
// one connection (HTTP/2 streams) instead of opening one each.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/download/stall_watch.h"

namespace qiv_start::core {

// Every call into the HTTP library's multi interface happens on the engine's own thread; the
// other threads only leave it requests and wake it. What the transfers' callbacks do runs on the
// engine's thread too, and so does what follows a transfer's end (the next request of a download,
// the bytes written to its stream): it holds up every other transfer meanwhile, so it must not
// wait for anything but the disk.
class TTransferEngine {
  public:
    // Told on the engine's thread, once, that its transfer has ended, with the library's result;
    // it may start the handle's next transfer.
    class TWaiter {
      public:
        virtual void ended(int result) = 0;

      protected:
        ~TWaiter() = default;
    };

    TTransferEngine();  // raises TError
    // No transfer may be under way.
    ~TTransferEngine();
    TTransferEngine(const TTransferEngine&) = delete;
    TTransferEngine& operator=(const TTransferEngine&) = delete;

    // Starts the transfer set up on the handle; the handle and the waiter stay untouched by the
    // caller until the waiter is told that it has ended. Raises TError.
    void start(void* handle, TWaiter& waiter);

    // Whether a transfer to the URL's server came back over HTTP/2, so that transfers to it run
    // side by side over one connection.
    bool multiplexes(const std::string& url) const;

    // On the engine's thread alone (from a transfer's callbacks): what the transfers to the
    // server of the origin move together, over the connection that they share, once one of them
    // has opened it (none before), made with the stall rule's figures.
    TLinkMeter* link(const std::string& origin);
    TLinkMeter& open_link(const std::string& origin, std::int64_t min_rate,
                          std::chrono::milliseconds window);

  private:
    using TId = std::uint64_t;
    struct TActive {
        void* handle;
        TWaiter* waiter;
    };
    void run();
    void take_requests();
    void finish_done();
    void end(TId transfer, int result);

    void* multi_ = nullptr;
    mutable std::mutex mutex_;
    // Requests for the engine's thread, under the mutex.
    std::vector<std::pair<TId, TActive>> starts_;
    bool stopping_ = false;
    TId next_id_ = 1;
    std::set<std::string> multiplexing_;  // servers, under the mutex
    // The engine's thread alone.
    std::unordered_map<TId, TActive> active_;
    std::unordered_map<std::string, TLinkMeter> links_;  // by origin
    std::thread thread_;
};

}  // namespace qiv_start::core
