#include "core/terminal/look_ahead.h"

#include <algorithm>
#include <utility>

namespace qiv_start::core {

// What a preparation sends, kept for its file's turn.
class TLookAhead::TRecord : public TCoreListener {
  public:
    TRecord(TLookAhead& look_ahead, std::size_t file) : look_ahead_(look_ahead), file_(file) {}
    void notify(const TCoreMessage& messageContent) override {
        look_ahead_.record(file_, messageContent);
    }

  private:
    TLookAhead& look_ahead_;
    std::size_t file_;
};

TLookAhead::TLookAhead(std::vector<std::size_t> after, std::size_t threads, std::size_t window,
                       std::size_t slots, TPrepare prepare)
    : after_(std::move(after)),
      window_(std::max<std::size_t>(window, 1)),
      prepare_(std::move(prepare)),
      files_(after_.size()),
      free_slots_(std::max<std::size_t>(slots, 1)) {
    records_.reserve(files_.size());
    for (std::size_t file = 0; file < files_.size(); ++file)
        records_.push_back(std::make_unique<TRecord>(*this, file));
    const std::size_t count = std::min({std::max<std::size_t>(threads, 1), window_, files_.size()});
    workers_.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        workers_.emplace_back([this] { work(); });
}

// Every preparation is told to stop before the first is waited for, so they end together; those
// that wait for a slot end at once, the suspended ones once what they wait for has ended. Idle
// workers are woken through the look-ahead's own flag rather than a stop callback: with the
// Windows build's C++ runtime, a wait ended through a stop callback now and then never returned,
// and the join hung.
TLookAhead::~TLookAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const TTask& task : std::exchange(for_slot_, {}))
            end(task.first);
    }
    stop_.request_stop();
    changed_.notify_all();
    for (auto& worker : workers_)
        worker.join();
}

void TLookAhead::follow(std::size_t file, TCoreListener& listener) {
    std::size_t passed = 0;
    for (;;) {
        std::vector<TCoreMessage> fresh;
        bool ended = false;
        std::exception_ptr error;
        {
            std::unique_lock lock(mutex_);
            TFile& state = files_.at(file);
            changed_.wait(lock, [&] { return state.messages.size() > passed || state.ended; });
            fresh.assign(state.messages.begin() + static_cast<std::ptrdiff_t>(passed),
                         state.messages.end());
            passed = state.messages.size();
            ended = state.ended;
            error = state.error;
        }
        for (const TCoreMessage& message : fresh)
            listener.notify(message);
        if (ended && error)
            std::rethrow_exception(error);
        if (ended)
            return;
    }
}

void TLookAhead::finish(std::size_t file) {
    {
        std::lock_guard lock(mutex_);
        finished_ = file + 1;
        files_.at(file).messages = {};
    }
    changed_.notify_all();
}

// Woken under the lock: once the rest may run, the look-ahead may end, and go, at any moment.
void TLookAhead::resume(std::size_t file, TRest rest) {
    std::lock_guard lock(mutex_);
    TFile& state = files_.at(file);
    release_slot(file);
    if (state.stepping)
        state.resumed = std::move(rest);
    else
        ready_.emplace_back(file, std::move(rest));
    changed_.notify_all();
}

// A worker ends once no preparation is under way and no other may begin.
void TLookAhead::work() {
    for (;;) {
        TTask task;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return has_task() || (open_ == 0 && (stopping_ || next_ == files_.size()));
            });
            if (!has_task())
                return;
            task = take_task();
        }
        settle(task.first, run_step(task));
    }
}

bool TLookAhead::may_start(std::size_t file) const {
    const std::size_t predecessor = after_[file];
    return file < finished_ + window_ && (predecessor == kNoPredecessor || predecessor < finished_);
}

// Rests first: they finish what is under way.
bool TLookAhead::has_task() const {
    return !ready_.empty() || (!stopping_ && next_ < files_.size() && may_start(next_));
}

TLookAhead::TTask TLookAhead::take_task() {
    TTask task;
    if (!ready_.empty()) {
        task = std::move(ready_.front());
        ready_.pop_front();
    } else {
        task.first = next_++;
        ++open_;
    }
    files_[task.first].stepping = true;
    return task;
}

TLookAhead::TStep TLookAhead::run_step(const TTask& task) {
    try {
        if (task.second)
            return task.second();
        return prepare_(task.first, *records_[task.first], stop_.get_token());
    } catch (...) {
        std::lock_guard lock(mutex_);
        files_[task.first].error = std::current_exception();
    }
    return TStep::ended();
}

void TLookAhead::settle(std::size_t file, TStep step) {
    {
        std::lock_guard lock(mutex_);
        TFile& state = files_[file];
        state.stepping = false;
        switch (step.kind_) {
            case TStep::TKind::kEnded:
                end(file);
                break;
            case TStep::TKind::kAfterSlot:
                release_slot(file);
                if (stopping_) {
                    end(file);
                } else if (free_slots_ > 0) {
                    --free_slots_;
                    state.holds_slot = true;
                    ready_.emplace_back(file, std::move(step.rest_));
                } else {
                    for_slot_.emplace_back(file, std::move(step.rest_));
                }
                break;
            case TStep::TKind::kSuspended:
                if (state.resumed)
                    ready_.emplace_back(file, std::exchange(state.resumed, {}));
                break;
        }
    }
    changed_.notify_all();
}

// Under the mutex: the slot goes to the first rest that waits for one.
void TLookAhead::release_slot(std::size_t file) {
    if (!std::exchange(files_[file].holds_slot, false))
        return;
    if (for_slot_.empty()) {
        ++free_slots_;
        return;
    }
    files_[for_slot_.front().first].holds_slot = true;
    ready_.push_back(std::move(for_slot_.front()));
    for_slot_.pop_front();
}

// Under the mutex.
void TLookAhead::end(std::size_t file) {
    release_slot(file);
    files_[file].ended = true;
    --open_;
}

void TLookAhead::record(std::size_t file, const TCoreMessage& message) {
    {
        std::lock_guard lock(mutex_);
        files_[file].messages.push_back(message);
    }
    changed_.notify_all();
}

}  // namespace qiv_start::core
