// The controller: accessible terminals, file synchronisation and the launch.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/download/downloader.h"
#include "core/support/listener_collection.h"
#include "core/support/md5.h"
#include "core/support/signature.h"
#include "core/terminal/controller.h"
#include "core/terminal/synchroniser.h"
#include "platform/files.h"

namespace qiv_start::core {

// The folder of the launcher's own settings (the list of servers) inside the working folder.
inline constexpr const char* kSettingsFolder = "config";

// The steps of a run that its messages mark, for those who follow a run from them.
inline constexpr const char* kStartingTerminal = "uruchamianie terminala \"%0:s\"";
inline constexpr const char* kFileCount = "file_count|%0:d";
inline constexpr const char* kLaunchingTerminal = "uruchomienie terminala \"%0:s\"";

// What the controller asks of the workstation; tests replace it.
struct TWorkstation {
    // The IPv4 addresses the host name resolves to; empty when unknown.
    std::function<std::vector<std::string>()> local_addresses;
    // Starts file (inside directory) with directory as its working directory, without waiting;
    // raises TError with the reason when it cannot be started.
    std::function<void(const std::string& directory, const std::string& file)> start_program;

    static TWorkstation system();
};

class TControllerProd : public TController {
  public:
    // digests_bind: the configuration is signed, so a file is saved or started only when it
    // matches its digests; by default, when the launcher was built with trusted keys. With a
    // downloader maker and more than one transfer, the files after the one being dealt with are
    // checked and fetched ahead; what a user, a listener or the run log sees stays the same. With
    // one transfer, files are taken one by one.
    TControllerProd(std::shared_ptr<TDownloader> downloader, std::shared_ptr<TConfig> config,
                    TWorkstation workstation = TWorkstation::system(),
                    bool digests_bind = !build_trusted_keys().empty(),
                    TDownloaderMaker make_downloader = {}, std::size_t transfers = kMaxTransfers);

    void add_listener(const std::shared_ptr<TCoreListener>& listener) override;
    void set_wait_step(TWaitStep wait_step) override;
    std::shared_ptr<TConfig> get_config() override;
    TTerminalConfigs get_accessible_terminals() override;
    std::string get_version(const std::string& file_name) override;
    bool run_terminal(const std::string& terminal_code) override;
    bool fetch_launcher_update(const std::string& upgrade_path) override;
    bool is_launcher_update(const std::string& path) override;

  private:
    bool is_in_restricted_network();
    std::vector<std::string> get_local_ip_addresses();
    bool lock_working_folder(std::unique_ptr<platform::TFolderLock>& lock);
    void sync_terminal(const std::shared_ptr<TTerminalConfig>& terminal, bool locked);
    bool may_start(const std::shared_ptr<TTerminalConfig>& terminal);
    void start_terminal(const std::shared_ptr<TTerminalConfig>& terminal);
    void send(const TMessageType& type, const std::string& text);
    std::optional<TDigestPair> launcher_digests();
    void use_store();

    std::shared_ptr<TConfig> config_;
    std::shared_ptr<TListenerCollection<TCoreMessage>> listeners_;
    TWorkstation workstation_;
    TWaitStep wait_step_;
    bool digests_bind_;
    TSynchroniser synchroniser_;
};

}  // namespace qiv_start::core
