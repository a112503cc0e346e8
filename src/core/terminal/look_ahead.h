// Works on the files of a synchronisation ahead of the controller, on a few threads, so that the
// link is kept busy while the controller deals with the file whose turn it is.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "core/support/messages.h"

namespace qiv_start::core {

// The files are numbered in their order. A file's preparation runs in steps on a few worker
// threads, for at most `window` files past the first file whose turn is not over, so that one
// slow file does not idle the others; a file may also be held back until an earlier file's turn
// is over (its `after`). A step may leave the rest of the preparation for later: to run once one
// of the `slots` is free, or once the preparation is resumed (when what it waits for, a download,
// has ended); meanwhile it holds no thread, so the preparations under way are bounded by the
// window and the slots, not by the threads. The steps of one file never overlap. What a
// preparation sends goes to the file's own record, never to a listener: the controller passes it
// on, on its own thread, at the file's turn (follow). A preparation must touch nothing that an
// earlier file's turn may change, unless that file is the later file's `after`.
class TLookAhead {
  public:
    static constexpr std::size_t kNoPredecessor = std::numeric_limits<std::size_t>::max();

    class TStep;
    // The rest of a preparation, run on a worker.
    using TRest = std::function<TStep()>;
    // What a step leaves.
    class TStep {
      public:
        // The preparation is over.
        static TStep ended() { return TStep(TKind::kEnded, {}); }
        // The rest runs once a slot is free, and holds it until the preparation ends or is next
        // resumed. Once the look-ahead ends, it does not run.
        static TStep after_slot(TRest rest) { return TStep(TKind::kAfterSlot, std::move(rest)); }
        // The preparation goes on with what resume() is given.
        static TStep suspended() { return TStep(TKind::kSuspended, {}); }

      private:
        friend class TLookAhead;
        enum class TKind { kEnded, kAfterSlot, kSuspended };
        TStep(TKind kind, TRest rest) : kind_(kind), rest_(std::move(rest)) {}
        TKind kind_;
        TRest rest_;
    };

    // The first step, on a worker. A stop is requested when the look-ahead ends early: the
    // preparation should then end soon. An error that a step raises is raised again by follow.
    using TPrepare =
        std::function<TStep(std::size_t file, TCoreListener& record, std::stop_token stop)>;

    // after[i] is the file whose turn must be over before file i is prepared, or kNoPredecessor.
    TLookAhead(std::vector<std::size_t> after, std::size_t threads, std::size_t window,
               std::size_t slots, TPrepare prepare);
    // Stops the preparations under way and waits for them, suspended ones included.
    ~TLookAhead();
    TLookAhead(const TLookAhead&) = delete;
    TLookAhead& operator=(const TLookAhead&) = delete;

    // The file's turn: passes what its preparation sends to the listener as it comes, and returns
    // when the preparation has ended (raising its error, if any). Files are taken in order.
    void follow(std::size_t file, TCoreListener& listener);
    // The file's turn is over: files held back for it, and the next ones, may go ahead.
    void finish(std::size_t file);
    // From any thread, once for each suspended step: the file's preparation goes on with rest,
    // and gives back the slot it held.
    void resume(std::size_t file, TRest rest);

  private:
    class TRecord;
    struct TFile {
        std::vector<TCoreMessage> messages;
        bool ended = false;
        std::exception_ptr error;
        bool stepping = false;  // a step of it runs on a worker
        bool holds_slot = false;
        TRest resumed;  // given by resume() while the step that suspended ran
    };
    using TTask = std::pair<std::size_t, TRest>;  // no rest: the file's first step

    void work();
    bool may_start(std::size_t file) const;
    bool has_task() const;
    TTask take_task();
    TStep run_step(const TTask& task);
    void settle(std::size_t file, TStep step);
    void release_slot(std::size_t file);
    void end(std::size_t file);
    void record(std::size_t file, const TCoreMessage& message);

    std::vector<std::size_t> after_;
    std::size_t window_;
    TPrepare prepare_;
    std::stop_source stop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;  // the look-ahead ends: workers take no further file
    std::vector<TFile> files_;
    std::vector<std::unique_ptr<TRecord>> records_;
    std::size_t next_ = 0;      // the next file to prepare
    std::size_t finished_ = 0;  // files whose turn is over
    std::size_t open_ = 0;      // preparations begun and not ended
    std::size_t free_slots_;
    std::deque<TTask> ready_;     // rests that may run
    std::deque<TTask> for_slot_;  // rests that wait for a slot
    std::vector<std::thread> workers_;
};

}  // namespace qiv_start::core
