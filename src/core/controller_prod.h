// The controller: accessible terminals, file synchronisation and the launch.
#pragma once

#include <memory>
#include <string>

#include "core/controller.h"
#include "core/downloader.h"
#include "core/listener_collection.h"

namespace qiv_start::core {

class TControllerProd : public TController {
public:
    TControllerProd(std::shared_ptr<TDownloader> downloader, std::shared_ptr<TConfig> config);

    void add_listener(const std::shared_ptr<TCoreListener>& listener) override;
    std::shared_ptr<TConfig> get_config() override;
    TTerminalConfigs get_accessible_terminals() override;
    std::string get_version(const std::string& file_name) override;
    void run_terminal(const std::string& terminal_code) override;

private:
    std::shared_ptr<TConfig> config_;
    std::shared_ptr<TListenerCollection<TCoreMessage>> listeners_;
    std::shared_ptr<TDownloader> downloader_;
};

}  // namespace qiv_start::core
