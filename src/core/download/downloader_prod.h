// The downloader: one worker thread per file, over the connections of one pool, progress
// reported to a listener. A server that refused the connection or did not answer in time is
// asked last by every downloader of the process from then on.
#pragma once

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "core/download/connection_pool.h"
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

    void download_file_from_server(const std::string& file_name, TStream& stream) override;
    void download_file_as(const std::string& file_name, const std::string& path,
                          TStream& stream) override;
    void download_file_from(const std::string& server, const std::string& file_name,
                            TStream& stream) override;
    // As the connection of the server that downloads go to first has shown so far.
    bool multiplexes() const override;
    std::vector<std::string> in_asking_order(std::vector<std::string> servers) const override;

  private:
    // path: where the servers hold the file; file_name: what the messages call it.
    void download(const std::vector<std::string>& servers, const std::string& path,
                  const std::string& file_name, TStream& stream);
    void send(const std::string& value);

    std::shared_ptr<TCoreListener> listener_;
    std::vector<std::string> servers_;
    std::shared_ptr<TConnectionPool> pool_;
    std::stop_token stop_;
};

}  // namespace qiv_start::core
