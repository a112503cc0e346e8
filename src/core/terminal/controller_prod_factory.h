// Builds a ready controller: refreshes the server list, then wires the downloader, the
// configuration and the controller to one listener.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/download/connection_pool.h"
#include "core/download/downloader.h"
#include "core/download/transport_options.h"
#include "core/terminal/controller.h"

namespace qiv_start::core {

class TControllerProdFactory : public TControllerFactory {
  public:
    explicit TControllerProdFactory(TTransportOptions options = {})
        : options_(std::move(options)) {}

    // Every download of the controller built here, the server list's included, goes over one
    // pool of connections.
    std::shared_ptr<TController> get_controller(
        const std::shared_ptr<TCoreListener>& listener) override;

  private:
    std::shared_ptr<TDownloader> prepare_downloader();
    void refresh_server_list();

    TTransportOptions options_;
    std::shared_ptr<TConnectionPool> pool_;
    std::shared_ptr<TCoreListener> listener_;
    std::vector<std::string> servers_;
};

// A new factory's controller for the listener; nothing is shared between calls.
std::shared_ptr<TController> create_controller(const std::shared_ptr<TCoreListener>& listener,
                                               const TTransportOptions& options = {});

}  // namespace qiv_start::core
