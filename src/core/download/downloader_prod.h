// The downloader: one worker thread per file, progress reported to a listener.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/download/downloader.h"
#include "core/download/transport_options.h"
#include "core/support/messages.h"

namespace qiv_start::core {

class TDownloaderProd : public TDownloader {
  public:
    TDownloaderProd(std::shared_ptr<TCoreListener> listener, std::vector<std::string> servers,
                    TTransportOptions options = {});

    void download_file_from_server(const std::string& file_name, TStream& stream) override;
    void download_file_from(const std::string& server, const std::string& file_name,
                            TStream& stream) override;

  private:
    void download(const std::vector<std::string>& servers, const std::string& file_name,
                  TStream& stream);
    void send(const std::string& value);

    std::shared_ptr<TCoreListener> listener_;
    std::vector<std::string> servers_;
    TTransportOptions options_;
};

}  // namespace qiv_start::core
