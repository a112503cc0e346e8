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

TLookAhead::TLookAhead(std::vector<std::size_t> after, std::size_t depth, std::size_t window,
                       TPrepare prepare)
    : after_(std::move(after)),
      window_(std::max<std::size_t>(window, 1)),
      prepare_(std::move(prepare)),
      files_(after_.size()) {
    // One thread per preparation at a time: the threads are the bound on them.
    const std::size_t threads = std::min({std::max<std::size_t>(depth, 1), window_, files_.size()});
    workers_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i)
        workers_.emplace_back([this](std::stop_token stop) { work(std::move(stop)); });
}

// Every preparation is told to stop before the first is waited for, so they end together. Idle
// workers are woken through the look-ahead's own flag rather than a stop callback: with the
// Windows build's C++ runtime, a wait ended through a stop callback now and then never returned,
// and the join hung.
TLookAhead::~TLookAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_)
        worker.request_stop();
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

void TLookAhead::work(std::stop_token stop) {
    for (;;) {
        std::size_t file = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(
                lock, [this] { return stopping_ || next_ == files_.size() || may_start(next_); });
            if (stopping_ || next_ == files_.size())
                return;
            file = next_++;
        }
        TRecord record(*this, file);
        std::exception_ptr error;
        try {
            prepare_(file, record, stop);
        } catch (...) {
            error = std::current_exception();
        }
        end(file, error);
    }
}

bool TLookAhead::may_start(std::size_t file) const {
    const std::size_t predecessor = after_[file];
    return file < finished_ + window_ && (predecessor == kNoPredecessor || predecessor < finished_);
}

void TLookAhead::record(std::size_t file, const TCoreMessage& message) {
    {
        std::lock_guard lock(mutex_);
        files_[file].messages.push_back(message);
    }
    changed_.notify_all();
}

void TLookAhead::end(std::size_t file, std::exception_ptr error) {
    {
        std::lock_guard lock(mutex_);
        files_[file].ended = true;
        files_[file].error = std::move(error);
    }
    changed_.notify_all();
}

}  // namespace qiv_start::core
