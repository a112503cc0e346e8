#include "core/download/download_thread.h"

#include <cmath>
#include <exception>
#include <utility>

#include "core/download/connection_pool.h"
#include "core/download/http_client.h"
#include "core/download/request_url.h"
#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

const char* const kDownloadFailed = "Niemożliwe było sciągnięcie pliku";
const char* const kAttemptFailed = "Nieudana próba pobrania pliku \"%0:s\" z serwera %1:s: %2:s";
const char* const kTooLong = "treść dłuższa niż zapowiedziana lub niż dopuszczalna";
const char* const kTooShort = "treść krótsza niż zapowiedziana";
const char* const kRefusedByStream = "pobrana treść nie zgadza się z ustawieniami";
const char* const kOtherCopy = "odpowiedź niesie część innej kopii pliku niż żądana";
const char* const kRefusedResumed =
    "wznowiona treść nie zgadza się z ustawieniami, pobieranie od początku";

// Attempts of one download at most, resumptions included: a server that keeps bringing a little
// and dropping the connection is given up in the end.
constexpr std::size_t kMaxAttemptsPerDownload = 10000;

// A body that runs past its bound is cut off there; one short of its announced length is as bad.
class TBodyOutOfBounds : public TError {
  public:
    explicit TBodyOutOfBounds(const char* what) : TError(what) {}
};

}  // namespace

std::int8_t progress_percent(std::int64_t downloaded, std::int64_t file_size) {
    if (file_size <= 0)
        return 0;
    // nearbyint rounds halves to even in the default rounding mode.
    const double percent = static_cast<double>(downloaded * 100) / static_cast<double>(file_size);
    return static_cast<std::int8_t>(static_cast<std::int64_t>(std::nearbyint(percent)));
}

TDownloadThread::TDownloadThread(TStream& stream, std::vector<std::string> servers,
                                 std::string file_name, std::shared_ptr<TConnectionPool> pool,
                                 std::stop_token stop, TFinished finished, TChanged changed)
    : file_name_(std::move(file_name)),
      stream_(stream),
      servers_(std::move(servers)),
      pool_(std::move(pool)),
      stop_(std::move(stop)),
      finished_(std::move(finished)),
      changed_(std::move(changed)) {
    begin();
}

TDownloadThread::TDownloadThread(TStream& stream, std::vector<std::string> servers,
                                 std::string file_name, const TTransportOptions& options)
    : TDownloadThread(stream, std::move(servers), std::move(file_name),
                      std::make_shared<TConnectionPool>(options)) {}

TDownloadThread::~TDownloadThread() {
    std::unique_lock lock(state_mutex_);
    state_changed_.wait(lock, [this] { return is_finished(); });
}

std::int8_t TDownloadThread::get_progress_prc() const {
    return progress_percent(get_downloaded_size(), get_file_size());
}

bool TDownloadThread::wait_for_metadata(std::chrono::milliseconds period) {
    std::unique_lock lock(state_mutex_);
    return state_changed_.wait_for(lock, period,
                                   [this] { return is_metadata_ready() || is_finished(); });
}

bool TDownloadThread::wait_for_finish(std::chrono::milliseconds period) {
    std::unique_lock lock(state_mutex_);
    return state_changed_.wait_for(lock, period, [this] { return is_finished(); });
}

void TDownloadThread::begin() {
    step([this] {
        client_ = pool_->borrow();
        client_->set_stop(stop_);
        stream_.take_up_kept();
        next_attempt();
    });
}

// Each piece of the work ends by starting a transfer, whose end runs the next piece, or by
// concluding; nothing touches the object after either. A local write failure is no fault of the
// server: it ends the download at once, with its reason. An unexpected error ends the work like
// a failed download.
void TDownloadThread::step(const std::function<void()>& work) noexcept {
    try {
        try {
            work();
        } catch (const TIoError& failure) {
            error_message_ = failure.what();
            conclude(true);
        }
    } catch (...) {
        conclude(false);
    }
}

// A failing server is dropped for the rest of this download; duplicates are tried again. One
// that was cut off after it brought more of a copy that can be resumed is asked for the rest at
// once, and one whose answer to a range was bad, or whose resumed copy the stream refused, for the
// whole copy, once.
void TDownloadThread::next_attempt() {
    if (done_ || stop_.stop_requested() || server_ == servers_.size()) {
        finish_download();
        return;
    }
    url_ = request_url(servers_[server_], file_name_);
    began_ = false;
    from_ = 0;
    body_refused_ = false;
    body_restarted_ = false;
    try {
        client_->start_head(url_, [this](const std::exception_ptr& failure) {
            step([this, &failure] { on_head(failure); });
        });
    } catch (const std::exception& failure) {
        after_attempt(failed_attempt(failure));
    }
}

void TDownloadThread::after_attempt(TAttempt attempt) {
    take_notes();
    done_ = attempt == TAttempt::kDone;
    if (done_)
        delivered_by_ = servers_[server_];
    if (attempt == TAttempt::kRefusedResumed && std::exchange(restarted_, true))
        attempt = TAttempt::kFailed;
    if (attempt != TAttempt::kFailed && ++attempts_ > kMaxAttemptsPerDownload)
        attempt = TAttempt::kFailed;
    if (attempt == TAttempt::kFailed) {
        ++server_;
        restarted_ = false;
    }
    next_attempt();
}

void TDownloadThread::on_head(const std::exception_ptr& failure) {
    TAttempt attempt = TAttempt::kFailed;
    try {
        if (failure)
            std::rethrow_exception(failure);
        copy_ = client_->copy();
        publish_file_size(copy_.length);
        body_limit_ = copy_.length >= 0 ? copy_.length : pool_->options().max_unannounced_size;
        from_ = resume_offset(copy_);
        if (from_ == 0)
            restart_stream();
        downloaded_.store(from_, std::memory_order_release);
        client_->start_get(
            url_, [this](const char* data, std::size_t size) { receive(data, size); },
            [this](const TBodyStart& start) {
                began_ = true;
                begin_body(start, copy_);
            },
            from_, copy_.validator,
            [this](const std::exception_ptr& ended) {
                step([this, &ended] { after_attempt(on_get(ended)); });
            });
        return;
    } catch (const TIoError&) {
        throw;
    } catch (const std::exception& error) {
        attempt = failed_attempt(error);
    }
    after_attempt(attempt);
}

TDownloadThread::TAttempt TDownloadThread::on_get(const std::exception_ptr& failure) {
    try {
        if (failure)
            std::rethrow_exception(failure);
        if (copy_.length >= 0 && downloaded_.load(std::memory_order_relaxed) != copy_.length) {
            body_refused_ = true;
            throw TBodyOutOfBounds(kTooShort);
        }
        const bool resumed = from_ > 0;
        if (stream_.accept(resumed))
            return TAttempt::kDone;
        restart_stream();
        take_notes();
        attempt_failed(resumed ? kRefusedResumed : kRefusedByStream);
        return resumed ? TAttempt::kRefusedResumed : TAttempt::kFailed;
    } catch (const TIoError&) {
        throw;
    } catch (const std::exception& error) {
        return failed_attempt(error);
    }
}

// What an interrupted attempt brought stays when a validator names its copy; a body that was
// refused goes, so the stream never mixes two copies.
TDownloadThread::TAttempt TDownloadThread::failed_attempt(const std::exception& failure) {
    take_notes();
    attempt_failed(failure.what());
    if (began_ && (body_refused_ || !stream_.resume_mark()))
        restart_stream();
    return after_failure(failure, began_, from_);
}

// A server that does not answer, or that the stall rule gave up on, has had its chance: asked for
// the rest again and again, a trickling one would hold the download for ever. So has one that
// sent the whole copy where the rest was asked for: it would do so again.
TDownloadThread::TAttempt TDownloadThread::after_failure(const std::exception& failure, bool began,
                                                         std::int64_t from) {
    const bool unanswered = dynamic_cast<const TNoAnswerError*>(&failure) != nullptr;
    if (unanswered)
        unanswering_.push_back(servers_[server_]);
    if (unanswered || dynamic_cast<const TStalledError*>(&failure) != nullptr || body_restarted_ ||
        stop_.stop_requested())
        return TAttempt::kFailed;
    if (began && stream_.get_size() > from && stream_.resume_mark())
        return TAttempt::kResumable;
    if (from == 0)
        return TAttempt::kFailed;
    // A bad answer to a range: nothing of it is kept, and the whole copy is asked for.
    restart_stream();
    return TAttempt::kRefusedResumed;
}

void TDownloadThread::finish_download() {
    client_.reset();
    if (!done_) {
        error_message_ = kDownloadFailed;
        if (stream_.resume_mark())
            stream_.put_aside();
    } else {
        stream_.set_position(0);
    }
    conclude(true);
}

// The client goes back first: the pool may go with the object. The flag is stored and told under
// the mutex, so that a waiter cannot test it and then miss the wake, nor go before the wake.
void TDownloadThread::conclude(bool completed) noexcept {
    client_.reset();
    is_completed_.store(completed, std::memory_order_release);
    const TFinished finished = std::move(finished_);
    {
        std::lock_guard lock(state_mutex_);
        is_active_.store(false, std::memory_order_release);
        state_changed_.notify_all();
    }
    if (finished)
        finished(*this);
}

// Where the stream's content may go on from: its end, when this server names the same copy.
std::int64_t TDownloadThread::resume_offset(const TCopyInfo& copy) {
    const std::optional<TResumeMark> mark = stream_.resume_mark();
    const std::int64_t held = stream_.get_size();
    if (!mark || copy.validator.empty() || *mark != TResumeMark{copy.validator, copy.length})
        return 0;
    return held > 0 && held < copy.length ? held : 0;
}

// A whole copy where the rest was asked for starts the stream again. From here on the stream
// holds the beginning of the copy that the answer names, when it names one of the announced length.
void TDownloadThread::begin_body(const TBodyStart& start, const TCopyInfo& announced) {
    if (start.offset == 0 && stream_.get_size() != 0) {
        body_restarted_ = true;
        restart_stream();
    }
    if (start.offset != 0 && start.copy.length != announced.length) {
        body_refused_ = true;
        throw TBodyOutOfBounds(kTooLong);
    }
    // The rest of another copy than the one If-Range named cannot follow what the stream holds.
    if (start.offset != 0 && !start.copy.validator.empty() &&
        start.copy.validator != announced.validator) {
        body_refused_ = true;
        throw TBodyOutOfBounds(kOtherCopy);
    }
    downloaded_.store(start.offset, std::memory_order_release);
    const std::string& validator = start.copy.validator.empty() && start.offset != 0
                                       ? announced.validator
                                       : start.copy.validator;
    if (!validator.empty() && start.copy.length == announced.length && announced.length > 0)
        stream_.set_resume_mark(TResumeMark{validator, announced.length});
    else
        stream_.set_resume_mark(std::nullopt);
}

// How a server is reached goes to the log ahead of what became of the attempt.
void TDownloadThread::take_notes() {
    if (client_) {
        for (std::string& note : client_->take_notes())
            details_.push_back(std::move(note));
    }
}

// An attempt ended by a stop is no fault of the server.
void TDownloadThread::attempt_failed(const std::string& reason) {
    if (!stop_.stop_requested())
        details_.push_back(format(kAttemptFailed, {file_name_, servers_[server_], reason}));
}

void TDownloadThread::publish_file_size(std::int64_t size) {
    file_size_.store(size, std::memory_order_release);
    {
        std::lock_guard lock(state_mutex_);
        is_metadata_completed_.store(true, std::memory_order_release);
    }
    state_changed_.notify_all();
    if (changed_)
        changed_(*this);
}

void TDownloadThread::restart_stream() {
    stream_.clear();
    stream_.set_resume_mark(std::nullopt);
    downloaded_.store(0, std::memory_order_release);
}

void TDownloadThread::receive(const char* data, std::size_t size) {
    const std::int64_t received = downloaded_.load(std::memory_order_relaxed);
    if (size > static_cast<std::uint64_t>(body_limit_ - received)) {
        body_refused_ = true;
        throw TBodyOutOfBounds(kTooLong);
    }
    try {
        stream_.write(data, size);
    } catch (const TIoError&) {
        throw;
    } catch (const TError&) {
        body_refused_ = true;
        throw;
    }
    downloaded_.store(downloaded_.load(std::memory_order_relaxed) + static_cast<std::int64_t>(size),
                      std::memory_order_release);
    if (changed_)
        changed_(*this);
}

}  // namespace qiv_start::core
