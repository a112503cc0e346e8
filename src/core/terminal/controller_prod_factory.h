// Builds a ready controller: refreshes the server list, then wires the downloader, the
// configuration and the controller to one listener.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/config/release_fetch.h"
#include "core/download/connection_pool.h"
#include "core/download/downloader.h"
#include "core/support/signature.h"
#include "core/terminal/controller.h"
#include "platform/config_cache.h"

namespace qiv_start::core {

class TControllerProdFactory : public TControllerFactory {
  public:
    // trusted_keys: with any, the server list and the configuration are taken only from one
    // server under a release signed by one of them (fetch_release). Every download of the
    // controller built here, the server list's included, goes over the pool; without one, over a
    // pool of its own that trusts the system's authorities.
    explicit TControllerProdFactory(TTrustedKeys trusted_keys = build_trusted_keys(),
                                    std::shared_ptr<TConnectionPool> pool = nullptr)
        : trusted_keys_(std::move(trusted_keys)), pool_(std::move(pool)) {}

    std::shared_ptr<TController> get_controller(
        const std::shared_ptr<TCoreListener>& listener) override;

  private:
    std::shared_ptr<TDownloader> prepare_downloader();
    void refresh_server_list();
    void refresh_from_release(TDownloader& downloader);
    void take_release(TReleaseCopy copy);
    void write_local_copy(const std::string& bytes);
    void take_server_list(const std::string& bytes);

    TTrustedKeys trusted_keys_;
    std::shared_ptr<TConnectionPool> pool_;
    std::shared_ptr<TCoreListener> listener_;
    std::vector<std::string> servers_;
    // The document of the release taken, for the configuration.
    std::optional<platform::TSignedDocument> delivered_;
};

// A new factory's controller for the listener. Nothing is shared between calls but the pool, when
// one is given: the controllers of one run then reuse each other's connections.
std::shared_ptr<TController> create_controller(const std::shared_ptr<TCoreListener>& listener,
                                               std::shared_ptr<TConnectionPool> pool = nullptr);

}  // namespace qiv_start::core
