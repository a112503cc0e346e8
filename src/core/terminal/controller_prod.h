// The controller: accessible terminals, file synchronisation and the launch.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/download/downloader.h"
#include "core/support/listener_collection.h"
#include "core/support/signature.h"
#include "core/terminal/controller.h"
#include "platform/files.h"

namespace qiv_start::core {

// What the controller asks of the workstation; tests replace it.
struct TWorkstation {
    // The IPv4 addresses the host name resolves to; empty when unknown.
    std::function<std::vector<std::string>()> local_addresses;
    // Starts file (inside directory) with directory as its working directory, without waiting;
    // raises TError with the reason when it cannot be started.
    std::function<void(const std::string& directory, const std::string& file)> start_program;

    static TWorkstation system();
};

// Where a configured file lives: its folder and its path, native and inside the working folder.
struct TLocalFile {
    std::string directory;  // empty for the working folder itself
    std::string path;
};

class TVerifiedFileStream;

class TControllerProd : public TController {
  public:
    // digests_bind: the configuration is signed, so a file is saved or started only when it
    // matches its digests; by default, when the launcher was built with trusted keys.
    TControllerProd(std::shared_ptr<TDownloader> downloader, std::shared_ptr<TConfig> config,
                    TWorkstation workstation = TWorkstation::system(),
                    bool digests_bind = !build_trusted_keys().empty());

    void add_listener(const std::shared_ptr<TCoreListener>& listener) override;
    std::shared_ptr<TConfig> get_config() override;
    TTerminalConfigs get_accessible_terminals() override;
    std::string get_version(const std::string& file_name) override;
    void run_terminal(const std::string& terminal_code) override;

  private:
    bool is_in_restricted_network();
    std::vector<std::string> get_local_ip_addresses();
    std::unique_ptr<platform::TFolderLock> lock_working_folder();
    void sync_terminal(const std::shared_ptr<TTerminalConfig>& terminal);
    static std::optional<TLocalFile> locate(TFileConfig& file);
    static void remove_leftovers(const TFileConfigs& files);
    void update_file(const std::shared_ptr<TFileConfig>& file);
    bool is_current(TFileConfig& file, const TLocalFile& local);
    bool download_file(TFileConfig& file, const TLocalFile& local);
    bool may_start(const std::shared_ptr<TTerminalConfig>& terminal);
    bool replace_old_copy(TVerifiedFileStream& stream, const std::string& name);
    static void extract_archive(const std::string& directory, const std::string& name);
    void start_terminal(const std::shared_ptr<TTerminalConfig>& terminal);
    void send(const TMessageType& type, const std::string& text);

    std::shared_ptr<TConfig> config_;
    std::shared_ptr<TListenerCollection<TCoreMessage>> listeners_;
    std::shared_ptr<TDownloader> downloader_;
    TWorkstation workstation_;
    bool digests_bind_;
    // The local paths whose files matched their digests in this run.
    std::set<std::string> verified_;
};

}  // namespace qiv_start::core
