// The downloader: one file at a time, over the connections of one pool, progress reported to a
// listener. A server that refused the connection or did not answer in time is
// asked last by every downloader of the process from then on.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "core/download/connection_pool.h"
#include "core/download/download_thread.h"
#include "core/download/downloader.h"
#include "core/download/transport_options.h"
#include "core/support/messages.h"

namespace qiv_start::core {

class TDownloaderProd : public TDownloader {
  public:
    // A stop requested through the token ends a download under way soon, as a failed one.
    TDownloaderProd(std::shared_ptr<TCoreListener> listener, std::vector<std::string> servers,
                    std::shared_ptr<TConnectionPool> pool, std::stop_token stop = {});
    // As above, over a pool of its own.
    TDownloaderProd(std::shared_ptr<TCoreListener> listener, std::vector<std::string> servers,
                    const TTransportOptions& options = {});

    // Progress is sampled on the caller's thread.
    void download_file_from_server(const std::string& file_name, TStream& stream) override;
    void download_file_as(const std::string& file_name, const std::string& path,
                          TStream& stream) override;
    // Progress is sampled as the bytes arrive, on the pool's engine thread, which also tells the
    // listener and finished.
    void start_download_as(const std::string& file_name, const std::string& path, TStream& stream,
                           const TFinished& finished) override;
    void download_file_from(const std::string& server, const std::string& file_name,
                            TStream& stream) override;
    // As the connection of the server that downloads go to first has shown so far.
    bool multiplexes() const override;
    std::vector<std::string> in_asking_order(std::vector<std::string> servers) const override;

  private:
    // path: where the servers hold the file; file_name: what the messages call it.
    void download(const std::vector<std::string>& servers, const std::string& path,
                  const std::string& file_name, TStream& stream);
    // What of a download's progress has been told.
    struct TTold {
        bool size = false;
        std::int8_t percent = 0;
        std::chrono::steady_clock::time_point sampled;
    };
    void tell_size(const TDownloadThread& worker, TTold& told);
    void sample(const TDownloadThread& worker, TTold& told);
    void report_end(const TDownloadThread& worker, const std::string& file_name);
    void send(const std::string& value);

    std::shared_ptr<TCoreListener> listener_;
    std::vector<std::string> servers_;
    std::shared_ptr<TConnectionPool> pool_;
    std::stop_token stop_;
    // The download started without waiting, and what of it the engine's thread has told.
    std::unique_ptr<TDownloadThread> under_way_;
    TTold told_;
};

}  // namespace qiv_start::core
