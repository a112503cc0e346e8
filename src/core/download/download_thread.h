// The work of fetching one file from the repository servers, driven by the pool's engine: no
// thread of its own waits for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "core/download/connection_pool.h"
#include "core/download/transport_options.h"
#include "core/support/stream.h"

namespace qiv_start::core {

// Tries the servers in their order until one delivers the file into the stream and the stream
// accepts it. A copy that an attempt left unfinished, and that the server's validator names, is
// kept in the stream: the next attempt whose server names the same copy asks only for the rest
// (Range with If-Range), and one that sends the whole copy instead, or names another, starts it
// again. A range of another copy is refused, and the same server asked once for the whole copy.
// An attempt that the stall rule abandons, or whose server does not answer, fails that server
// for the download. A body that is not of its announced length, or that passes the transport's
// ceiling when no length is announced, is a failed attempt, as is a TError from the stream; a
// TIoError from the stream (a local write failure) ends the work at once. The stream is written
// on the engine's thread, and is the work's until is_finished() returns true; other threads
// follow the work through the read-only operations.
class TDownloadThread {
  public:
    // Told once, on the engine's thread (or on the creator's, before the constructor returns),
    // that the work has ended; the object may go once the call has returned.
    using TFinished = std::function<void(const TDownloadThread& work)>;
    // Told on the engine's thread when the announced size is known and as bytes arrive.
    using TChanged = std::function<void(const TDownloadThread& work)>;

    // Starts the work at once, over a connection of the pool. A stop requested through the token
    // ends the work soon, as if no server had delivered the file.
    TDownloadThread(TStream& stream, std::vector<std::string> servers, std::string file_name,
                    std::shared_ptr<TConnectionPool> pool, std::stop_token stop = {},
                    TFinished finished = {}, TChanged changed = {});
    // As above, over a pool of its own.
    TDownloadThread(TStream& stream, std::vector<std::string> servers, std::string file_name,
                    const TTransportOptions& options = {});
    // Waits for the work to end.
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    bool is_finished() const { return !is_active_.load(std::memory_order_acquire); }
    bool is_metadata_ready() const {
        return is_metadata_completed_.load(std::memory_order_acquire);
    }
    // The announced size, -1 when the server announced none, 0 before any server answered.
    std::int64_t get_file_size() const { return file_size_.load(std::memory_order_acquire); }
    // Body bytes received by the current attempt.
    std::int64_t get_downloaded_size() const { return downloaded_.load(std::memory_order_acquire); }
    std::int8_t get_progress_prc() const;

    // Wait up to period; return at once, with true, when the size is known or the work has ended
    // (wait_for_metadata), or when the work has ended (wait_for_finish).
    bool wait_for_metadata(std::chrono::milliseconds period);
    bool wait_for_finish(std::chrono::milliseconds period);

    // Valid once is_finished() returned true: whether the work ran to its end without an
    // unexpected error, and the reason when no server delivered the file or the stream could not
    // be written (empty otherwise).
    bool is_completed() const { return is_completed_.load(std::memory_order_acquire); }
    const std::string& get_error_message() const { return error_message_; }
    // Valid once is_finished() returned true: lines for the run log alone, in order: how each
    // server met for the first time in the run is reached (directly or through which proxy),
    // and for each failed attempt the file, the server and the reason.
    const std::vector<std::string>& get_details() const { return details_; }
    // Valid once is_finished() returned true: the servers that refused the connection or did not
    // answer in time, in the order they did.
    const std::vector<std::string>& get_unanswering() const { return unanswering_; }
    // Valid once is_finished() returned true: the server that delivered the file, empty when none
    // did.
    const std::string& get_delivered_by() const { return delivered_by_; }

  private:
    // How an attempt ended: the file delivered, or failed for good on that server, or worth
    // asking the same server again.
    enum class TAttempt { kDone, kFailed, kResumable, kRefusedResumed };

    void begin();
    void step(const std::function<void()>& work) noexcept;
    void next_attempt();
    void after_attempt(TAttempt attempt);
    void on_head(const std::exception_ptr& failure);
    TAttempt on_get(const std::exception_ptr& failure);
    TAttempt failed_attempt(const std::exception& failure);
    TAttempt after_failure(const std::exception& failure, bool began, std::int64_t from);
    void finish_download();
    void conclude(bool completed) noexcept;
    void attempt_failed(const std::string& reason);
    void take_notes();
    std::int64_t resume_offset(const TCopyInfo& copy);
    void begin_body(const TBodyStart& start, const TCopyInfo& announced);
    void publish_file_size(std::int64_t size);
    void restart_stream();
    void receive(const char* data, std::size_t size);

    std::string file_name_;
    std::atomic<std::int64_t> file_size_{0};
    std::atomic<bool> is_active_{true};
    std::atomic<bool> is_completed_{false};
    std::atomic<bool> is_metadata_completed_{false};
    std::string error_message_;
    std::string delivered_by_;
    std::vector<std::string> details_;
    std::vector<std::string> unanswering_;
    TStream& stream_;
    std::vector<std::string> servers_;
    std::shared_ptr<TConnectionPool> pool_;
    std::stop_token stop_;
    TFinished finished_;
    TChanged changed_;
    std::atomic<std::int64_t> downloaded_{0};
    // The work's own, on one thread at a time: the client, where the servers stand, and the
    // current attempt.
    TConnectionPool::TLoan client_;
    std::size_t server_ = 0;
    bool restarted_ = false;  // the current server was asked for the whole copy again
    std::size_t attempts_ = 0;
    bool done_ = false;
    std::string url_;
    TCopyInfo copy_;  // what the current attempt's HEAD found
    std::int64_t from_ = 0;
    bool began_ = false;
    std::int64_t body_limit_ = 0;
    bool body_refused_ = false;    // the current attempt's body is not to be kept
    bool body_restarted_ = false;  // the current attempt's server sent all where the rest was asked
    std::mutex state_mutex_;
    std::condition_variable state_changed_;
};

// Percentage of file_size that downloaded makes, rounded half to even, as its lowest byte
// (not clamped); 0 when the size is not known.
std::int8_t progress_percent(std::int64_t downloaded, std::int64_t file_size);

}  // namespace qiv_start::core
