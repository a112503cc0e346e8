// Works on the files of a synchronisation ahead of the controller, on a few threads, so that the
// link is kept busy while the controller deals with the file whose turn it is.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "core/support/messages.h"

namespace qiv_start::core {

// The files are numbered in their order. Worker threads run prepare for the files ahead, at most
// `depth` at a time and never more than `window` files past the first file whose turn is not
// over, so that one slow file does not idle the others; a file may also be held back until an
// earlier file's turn is over (its `after`). What prepare
// sends goes to the file's own record, never to a listener: the controller passes it on, on its
// own thread, at the file's turn (follow). prepare must touch nothing that an earlier file's turn
// may change, unless that file is the later file's `after`.
class TLookAhead {
  public:
    static constexpr std::size_t kNoPredecessor = std::numeric_limits<std::size_t>::max();
    // Runs on a worker thread. A stop is requested when the look-ahead ends early: prepare should
    // then end soon. An error it raises is raised again by follow.
    using TPrepare =
        std::function<void(std::size_t file, TCoreListener& record, std::stop_token stop)>;

    // after[i] is the file whose turn must be over before file i is prepared, or kNoPredecessor.
    TLookAhead(std::vector<std::size_t> after, std::size_t depth, std::size_t window,
               TPrepare prepare);
    // Stops the preparations under way and waits for them.
    ~TLookAhead();
    TLookAhead(const TLookAhead&) = delete;
    TLookAhead& operator=(const TLookAhead&) = delete;

    // The file's turn: passes what its preparation sends to the listener as it comes, and returns
    // when the preparation has ended (raising its error, if any). Files are taken in order.
    void follow(std::size_t file, TCoreListener& listener);
    // The file's turn is over: files held back for it, and the next ones, may go ahead.
    void finish(std::size_t file);

  private:
    class TRecord;
    struct TFile {
        std::vector<TCoreMessage> messages;
        bool ended = false;
        std::exception_ptr error;
    };

    void work(std::stop_token stop);
    bool may_start(std::size_t file) const;
    void record(std::size_t file, const TCoreMessage& message);
    void end(std::size_t file, std::exception_ptr error);

    std::vector<std::size_t> after_;
    std::size_t window_;
    TPrepare prepare_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;  // the look-ahead ends: workers take no further file
    std::vector<TFile> files_;
    std::size_t next_ = 0;      // the next file to prepare
    std::size_t finished_ = 0;  // files whose turn is over
    std::vector<std::jthread> workers_;
};

}  // namespace qiv_start::core
