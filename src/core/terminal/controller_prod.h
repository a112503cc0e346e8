// The controller: accessible terminals, file synchronisation and the launch.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <semaphore>
#include <set>
#include <stop_token>
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

// A downloader for a file fetched ahead: it reports to the listener given, and a download under
// way ends soon once a stop is requested through the token.
using TDownloaderMaker = std::function<std::unique_ptr<TDownloader>(
    std::shared_ptr<TCoreListener> listener, std::stop_token stop)>;

// Downloads under way at the same time during a synchronisation, at most.
inline constexpr std::size_t kMaxTransfers = 8;
// Files worked on ahead at the same time (digest checks, downloads, flushes to disk), and how far
// ahead of the file being dealt with they may be: fetched files wait in their temporary files,
// so that one slow file holds up the others less.
inline constexpr std::size_t kLookAheadThreads = 2 * kMaxTransfers;
inline constexpr std::size_t kLookAheadWindow = 4 * kMaxTransfers;

class TLookAhead;
struct TPlannedFile;

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
    bool store_download(TVerifiedFileStream& stream, const std::string& name,
                        const std::string& path);
    // What a file's turn takes over from the work done ahead.
    struct TFetched;
    void sync_ahead(const TFileConfigs& default_files, const TFileConfigs& own_files);
    TFetched fetch(const TPlannedFile& file, const TLocalFile& local, TCoreListener& record,
                   std::stop_token stop, std::counting_semaphore<>& transfers);
    void take_turn(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                   const std::optional<TLocalFile>& local, TFetched& fetched);
    bool may_start(const std::shared_ptr<TTerminalConfig>& terminal);
    bool replace_old_copy(TVerifiedFileStream& stream, const std::string& name);
    static void extract_archive(const std::string& directory, const std::string& name);
    void start_terminal(const std::shared_ptr<TTerminalConfig>& terminal);
    void send(const TMessageType& type, const std::string& text);

    std::shared_ptr<TConfig> config_;
    std::shared_ptr<TListenerCollection<TCoreMessage>> listeners_;
    std::shared_ptr<TDownloader> downloader_;
    TWorkstation workstation_;
    TDownloaderMaker make_downloader_;
    std::size_t transfers_;
    bool digests_bind_;
    // The local paths whose files matched their digests in this run.
    std::set<std::string> verified_;
};

}  // namespace qiv_start::core
