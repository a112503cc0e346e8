#include "core/download/download_thread.h"

#include <cmath>
#include <exception>

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
        // A failing server is dropped for the rest of this download; duplicates are tried again.
        for (const std::string& server : servers_) {
            if (stop_.stop_requested())
                break;
            done = try_server(*client, server);
            if (done)
                break;
        }
    } catch (const TIoError& failure) {
        error_message_ = failure.what();
        return;
    }
    if (!done) {
        error_message_ = kDownloadFailed;
        return;
    }
    stream_.set_position(0);
}

bool TDownloadThread::try_server(THttpClient& client, const std::string& server) {
    const std::string url = request_url(server, file_name_);
    bool receiving = false;
    try {
        const std::int64_t announced = client.head(url);
        publish_file_size(announced);
        body_limit_ = announced >= 0 ? announced : pool_->options().max_unannounced_size;
        receiving = true;
        restart_stream();
        client.get(url, [this](const char* data, std::size_t size) { receive(data, size); });
        if (announced >= 0 && downloaded_.load(std::memory_order_relaxed) != announced)
            throw TBodyOutOfBounds(kTooShort);
        if (stream_.accept())
            return true;
        attempt_failed(server, kRefusedByStream);
        return false;
    } catch (const TIoError&) {
        throw;
    } catch (const std::exception& failure) {
        attempt_failed(server, failure.what());
        // A failed attempt leaves nothing behind, so the stream never mixes two servers' bodies.
        if (receiving)
            restart_stream();
        return false;
    }
}

// An attempt ended by a stop is no fault of the server.
void TDownloadThread::attempt_failed(const std::string& server, const std::string& reason) {
    if (!stop_.stop_requested())
        attempt_failures_.push_back(format(kAttemptFailed, {file_name_, server, reason}));
}

void TDownloadThread::publish_file_size(std::int64_t size) {
    file_size_.store(size, std::memory_order_release);
    announce(is_metadata_completed_, true);
}

void TDownloadThread::restart_stream() {
    stream_.clear();
    downloaded_.store(0, std::memory_order_release);
}

void TDownloadThread::receive(const char* data, std::size_t size) {
    const std::int64_t received = downloaded_.load(std::memory_order_relaxed);
    if (size > static_cast<std::uint64_t>(body_limit_ - received))
        throw TBodyOutOfBounds(kTooLong);
    stream_.write(data, size);
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
