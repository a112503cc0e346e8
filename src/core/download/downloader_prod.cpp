#include "core/download/downloader_prod.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>

#include "core/download/delivery_note.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

// Progress is sampled this often; the waits end early when the worker gets there first.
constexpr std::chrono::milliseconds kPollPeriod{100};

// The servers that refused a connection or did not answer in time, for the rest of the process:
// a run makes several downloaders (the server list, the document, twice, then the files), and
// each would wait for such a server again.
class TUnansweringServers {
  public:
    void add(const std::vector<std::string>& servers) {
        std::lock_guard lock(mutex_);
        known_.insert(servers.begin(), servers.end());
    }
    // The servers in their order, those that did not answer last.
    std::vector<std::string> answering_first(std::vector<std::string> servers) const {
        std::lock_guard lock(mutex_);
        std::stable_partition(servers.begin(), servers.end(), [this](const std::string& server) {
            return !known_.contains(server);
        });
        return servers;
    }

  private:
    mutable std::mutex mutex_;
    std::set<std::string> known_;
};

TUnansweringServers& unanswering_servers() {
    static TUnansweringServers servers;
    return servers;
}

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
    download(in_asking_order(servers_), file_name, file_name, stream);
}

void TDownloaderProd::download_file_as(const std::string& file_name, const std::string& path,
                                       TStream& stream) {
    download(in_asking_order(servers_), path, file_name, stream);
}

void TDownloaderProd::download_file_from(const std::string& server, const std::string& file_name,
                                         TStream& stream) {
    download({server}, file_name, file_name, stream);
}

bool TDownloaderProd::multiplexes() const {
    const std::vector<std::string> servers = in_asking_order(servers_);
    return !servers.empty() && pool_->multiplexes(servers.front());
}

std::vector<std::string> TDownloaderProd::in_asking_order(std::vector<std::string> servers) const {
    return unanswering_servers().answering_first(std::move(servers));
}

void TDownloaderProd::download(const std::vector<std::string>& servers, const std::string& path,
                               const std::string& file_name, TStream& stream) {
    TDownloadThread worker(stream, servers, path, pool_, stop_);
    send(format("download_start|%0:s", {file_name}));

    while (!worker.wait_for_metadata(kPollPeriod)) {
    }
    TTold told;
    tell_size(worker, told);

    while (!worker.is_finished()) {
        sample(worker, told);
        worker.wait_for_finish(kPollPeriod);
    }
    report_end(worker, file_name);
}

void TDownloaderProd::start_download_as(const std::string& file_name, const std::string& path,
                                        TStream& stream, const TFinished& finished) {
    send(format("download_start|%0:s", {file_name}));
    told_ = {};
    const auto changed = [this](const TDownloadThread& worker) {
        if (!told_.size && worker.is_metadata_ready())
            tell_size(worker, told_);
        else if (told_.size && std::chrono::steady_clock::now() - told_.sampled >= kPollPeriod)
            sample(worker, told_);
    };
    const auto ended = [this, file_name, finished](const TDownloadThread& worker) {
        if (!told_.size)
            tell_size(worker, told_);
        report_end(worker, file_name);
        finished();
    };
    under_way_ = std::make_unique<TDownloadThread>(stream, in_asking_order(servers_), path, pool_,
                                                   stop_, ended, changed);
}

void TDownloaderProd::tell_size(const TDownloadThread& worker, TTold& told) {
    told.size = true;
    told.sampled = std::chrono::steady_clock::now();
    send(format("file_size|%0:d", {worker.get_file_size()}));
}

// A percentage goes out when it differs from the last one told.
void TDownloaderProd::sample(const TDownloadThread& worker, TTold& told) {
    told.sampled = std::chrono::steady_clock::now();
    const std::int8_t percent = worker.get_progress_prc();
    if (percent != told.percent) {
        told.percent = percent;
        send(format("downloaded_prc|%0:d", {static_cast<int>(percent)}));
    }
}

void TDownloaderProd::report_end(const TDownloadThread& worker, const std::string& file_name) {
    unanswering_servers().add(worker.get_unanswering());
    for (const std::string& failure : worker.get_details())
        listener_->notify(TCoreMessage(detail, failure));
    if (!worker.get_delivered_by().empty()) {
        const auto bytes =
            static_cast<std::uint64_t>(std::max<std::int64_t>(0, worker.get_downloaded_size()));
        listener_->notify(
            TCoreMessage(detail, delivery_note({file_name, worker.get_delivered_by(), bytes})));
    }
    send(format("download_finished|%0:s", {file_name}));
}

void TDownloaderProd::send(const std::string& value) {
    listener_->notify(TCoreMessage(info, value));
}

}  // namespace qiv_start::core
