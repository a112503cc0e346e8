#include "core/download/downloader_prod.h"

#include <chrono>

#include "core/download/download_thread.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

// Progress is sampled this often; the waits end early when the worker gets there first.
constexpr std::chrono::milliseconds kPollPeriod{100};

}  // namespace

TDownloaderProd::TDownloaderProd(std::shared_ptr<TCoreListener> listener,
                                 std::vector<std::string> servers,
                                 std::shared_ptr<TConnectionPool> pool, std::stop_token stop)
    : listener_(std::move(listener)),
      servers_(std::move(servers)),
      pool_(std::move(pool)),
      stop_(std::move(stop)) {}

TDownloaderProd::TDownloaderProd(std::shared_ptr<TCoreListener> listener,
                                 std::vector<std::string> servers, const TTransportOptions& options)
    : TDownloaderProd(std::move(listener), std::move(servers),
                      std::make_shared<TConnectionPool>(options)) {}

void TDownloaderProd::download_file_from_server(const std::string& file_name, TStream& stream) {
    download(servers_, file_name, stream);
}

void TDownloaderProd::download_file_from(const std::string& server, const std::string& file_name,
                                         TStream& stream) {
    download({server}, file_name, stream);
}

bool TDownloaderProd::multiplexes() const {
    return !servers_.empty() && pool_->multiplexes(servers_.front());
}

void TDownloaderProd::download(const std::vector<std::string>& servers,
                               const std::string& file_name, TStream& stream) {
    TDownloadThread worker(stream, servers, file_name, pool_, stop_);
    send(format("download_start|%0:s", {file_name}));

    while (!worker.wait_for_metadata(kPollPeriod)) {
    }
    send(format("file_size|%0:d", {worker.get_file_size()}));

    std::int8_t last = 0;
    while (!worker.is_finished()) {
        const std::int8_t percent = worker.get_progress_prc();
        if (percent != last) {
            last = percent;
            send(format("downloaded_prc|%0:d", {static_cast<int>(last)}));
        }
        worker.wait_for_finish(kPollPeriod);
    }
    for (const std::string& failure : worker.get_details())
        listener_->notify(TCoreMessage(detail, failure));
    send(format("download_finished|%0:s", {file_name}));
}

void TDownloaderProd::send(const std::string& value) {
    listener_->notify(TCoreMessage(info, value));
}

}  // namespace qiv_start::core
