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
                                 std::stop_token stop)
    : file_name_(std::move(file_name)),
      stream_(stream),
      servers_(std::move(servers)),
      pool_(std::move(pool)),
      stop_(std::move(stop)) {
    prepare_http_clients();
    thread_ = std::thread(&TDownloadThread::run, this);
}

TDownloadThread::TDownloadThread(TStream& stream, std::vector<std::string> servers,
                                 std::string file_name, const TTransportOptions& options)
    : TDownloadThread(stream, std::move(servers), std::move(file_name),
                      std::make_shared<TConnectionPool>(options)) {}

TDownloadThread::~TDownloadThread() {
    thread_.join();
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

void TDownloadThread::run() noexcept {
    try {
        download_from_servers();
        is_completed_.store(true, std::memory_order_release);
    } catch (...) {
        // An unexpected error ends the work like a failed download; the creator only waits.
    }
    announce(is_active_, false);
}

// A local write failure is no fault of the server: it ends the download at once, with its reason.
void TDownloadThread::download_from_servers() {
    bool done = false;
    try {
        const TConnectionPool::TLoan client = pool_->borrow();
        client->set_stop(stop_);
        stream_.take_up_kept();
        // A failing server is dropped for the rest of this download; duplicates are tried again.
        // One that was cut off after it brought more of a copy that can be resumed is asked for
        // the rest at once, and one whose answer to a range was bad, or whose resumed copy the
        // stream refused, for the whole copy, once.
        std::size_t again = 0;
        for (const std::string& server : servers_) {
            bool restarted = false;
            TAttempt attempt = TAttempt::kResumable;
            while (!stop_.stop_requested() && !done && attempt != TAttempt::kFailed) {
                attempt = try_server(*client, server);
                take_notes(*client);
                done = attempt == TAttempt::kDone;
                if (done)
                    delivered_by_ = server;
                if (attempt == TAttempt::kRefusedResumed && std::exchange(restarted, true))
                    attempt = TAttempt::kFailed;
                if (attempt != TAttempt::kFailed && ++again > kMaxAttemptsPerDownload)
                    attempt = TAttempt::kFailed;
            }
            if (done || stop_.stop_requested())
                break;
        }
    } catch (const TIoError& failure) {
        error_message_ = failure.what();
        return;
    }
    if (!done) {
        error_message_ = kDownloadFailed;
        if (stream_.resume_mark())
            stream_.put_aside();
        return;
    }
    stream_.set_position(0);
}

TDownloadThread::TAttempt TDownloadThread::try_server(THttpClient& client,
                                                      const std::string& server) {
    const std::string url = request_url(server, file_name_);
    bool began = false;
    std::int64_t from = 0;
    body_refused_ = false;
    body_restarted_ = false;
    try {
        const TCopyInfo copy = client.head(url);
        publish_file_size(copy.length);
        body_limit_ = copy.length >= 0 ? copy.length : pool_->options().max_unannounced_size;
        from = resume_offset(copy);
        if (from == 0)
            restart_stream();
        downloaded_.store(from, std::memory_order_release);
        client.get(
            url, [this](const char* data, std::size_t size) { receive(data, size); },
            [&](const TBodyStart& start) {
                began = true;
                begin_body(start, copy);
            },
            from, copy.validator);
        if (copy.length >= 0 && downloaded_.load(std::memory_order_relaxed) != copy.length) {
            body_refused_ = true;
            throw TBodyOutOfBounds(kTooShort);
        }
        const bool resumed = from > 0;
        if (stream_.accept(resumed))
            return TAttempt::kDone;
        restart_stream();
        take_notes(client);
        attempt_failed(server, resumed ? kRefusedResumed : kRefusedByStream);
        return resumed ? TAttempt::kRefusedResumed : TAttempt::kFailed;
    } catch (const TIoError&) {
        throw;
    } catch (const std::exception& failure) {
        take_notes(client);
        attempt_failed(server, failure.what());
        // What an interrupted attempt brought stays when a validator names its copy; a body that
        // was refused goes, so the stream never mixes two copies.
        if (began && (body_refused_ || !stream_.resume_mark()))
            restart_stream();
        return after_failure(failure, server, began, from);
    }
}

// A server that does not answer, or that the stall rule gave up on, has had its chance: asked for
// the rest again and again, a trickling one would hold the download for ever. So has one that
// sent the whole copy where the rest was asked for: it would do so again.
TDownloadThread::TAttempt TDownloadThread::after_failure(const std::exception& failure,
                                                         const std::string& server, bool began,
                                                         std::int64_t from) {
    const bool unanswered = dynamic_cast<const TNoAnswerError*>(&failure) != nullptr;
    if (unanswered)
        unanswering_.push_back(server);
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
void TDownloadThread::take_notes(THttpClient& client) {
    for (std::string& note : client.take_notes())
        details_.push_back(std::move(note));
}

// An attempt ended by a stop is no fault of the server.
void TDownloadThread::attempt_failed(const std::string& server, const std::string& reason) {
    if (!stop_.stop_requested())
        details_.push_back(format(kAttemptFailed, {file_name_, server, reason}));
}

void TDownloadThread::publish_file_size(std::int64_t size) {
    file_size_.store(size, std::memory_order_release);
    announce(is_metadata_completed_, true);
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
}

// The store happens under the mutex so that a waiter cannot test the flag and then miss the wake.
void TDownloadThread::announce(std::atomic<bool>& flag, bool value) {
    {
        std::lock_guard lock(state_mutex_);
        flag.store(value, std::memory_order_release);
    }
    state_changed_.notify_all();
}

}  // namespace qiv_start::core
