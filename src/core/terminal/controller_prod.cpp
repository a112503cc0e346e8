#include "core/terminal/controller_prod.h"

#include <thread>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/md5.h"
#include "core/support/paths.h"
#include "core/terminal/file_version.h"
#include "core/terminal/leftovers.h"
#include "core/terminal/self_update.h"
#include "core/terminal/terminal_access.h"
#include "platform/files.h"
#include "platform/network.h"
#include "platform/process.h"

namespace qiv_start::core {
namespace {

const char* const kUpdatingLauncher = "aktualizacja programu";
const char* const kLauncherUnbound =
    "Ustawienia nie podają sumy SHA-256 programu; nie zostanie on zaktualizowany.";
const char* const kTerminalNotAvailable = "Terminal z kodem \"%0:s\" nie jest dostępny.";
const char* const kTerminalLaunched = "terminal \"%0:s\" uruchomiono";

const char* const kSyncingTerminal = "pobieranie plików terminala \"%0:s\"";
const char* const kSyncingDefaultFiles = "pobieranie plików wspólnych";
const char* const kSyncingOwnFiles = "pobieranie plików szczególnych";
const char* const kExecutableNotVerified =
    "Terminal \"%0:s\" nie został uruchomiony: plik \"%1:s\" nie zgadza się z ustawieniami.";
const char* const kCannotStart = "Nie można uruchomić terminala \"%0:s\": %1:s";
const char* const kWaitingForOtherLauncher =
    "oczekiwanie na zakończenie pracy innej kopii programu w tym katalogu";

// Held while files are synchronised and started, so that two launchers never work on one folder
// at once.
const char* const kLockFile = "qiv_start_2.lock";
const char* const kBadStore =
    "Nieprawidłowy magazyn plików w ustawieniach: %0:s. Pliki zostaną pobrane według nazw.";
// How long a waiting launcher lets pass between its attempts at the lock.
constexpr std::chrono::milliseconds kLockRetry{150};

bool sleep_step(std::chrono::milliseconds step) {
    std::this_thread::sleep_for(step);
    return true;
}

}  // namespace

TWorkstation TWorkstation::system() {
    return {platform::local_ipv4_addresses, platform::start_program};
}

TControllerProd::TControllerProd(std::shared_ptr<TDownloader> downloader,
                                 std::shared_ptr<TConfig> config, TWorkstation workstation,
                                 bool digests_bind, TDownloaderMaker make_downloader,
                                 std::size_t transfers)
    : config_(std::move(config)),
      listeners_(std::make_shared<TListenerCollection<TCoreMessage>>()),
      workstation_(std::move(workstation)),
      wait_step_(sleep_step),
      digests_bind_(digests_bind),
      synchroniser_(std::move(downloader), listeners_, digests_bind, std::move(make_downloader),
                    transfers) {}

void TControllerProd::add_listener(const std::shared_ptr<TCoreListener>& listener) {
    listeners_->add(listener);
}

void TControllerProd::set_wait_step(TWaitStep wait_step) {
    wait_step_ = wait_step ? std::move(wait_step) : sleep_step;
}

std::shared_ptr<TConfig> TControllerProd::get_config() {
    return config_;
}

TTerminalConfigs TControllerProd::get_accessible_terminals() {
    TTerminalConfigs terminals = config_->get_terminals();
    if (is_in_restricted_network())
        return terminals;
    std::erase_if(terminals, [](const auto& terminal) { return !terminal->is_accessed_by_all(); });
    return terminals;
}

std::string TControllerProd::get_version(const std::string& file_name) {
    return get_file_version(file_name);
}

bool TControllerProd::run_terminal(const std::string& terminal_code) {
    for (const auto& terminal : get_accessible_terminals()) {
        if (terminal->get_id_code() != terminal_code)
            continue;
        send(info, format(kStartingTerminal, {terminal_code}));
        std::unique_ptr<platform::TFolderLock> lock;
        if (!lock_working_folder(lock))
            return false;
        sync_terminal(terminal, lock != nullptr);
        if (!may_start(terminal))
            return false;
        start_terminal(terminal);
        return true;
    }
    send(error, format(kTerminalNotAvailable, {terminal_code}));
    return false;
}

// False when the wait for another launcher was given up. A folder where no lock file can be made
// at all (a read-only one) is one where no launcher can write either: the run goes on there
// without the lock, as it always did. A failure once the wait has begun ends the run instead, as
// the other launcher may still be at work.
bool TControllerProd::lock_working_folder(std::unique_ptr<platform::TFolderLock>& lock) {
    try {
        lock = std::make_unique<platform::TFolderLock>(kLockFile);
        if (lock->try_lock())
            return true;
    } catch (const TIoError&) {
        lock.reset();
        return true;
    }
    send(info, kWaitingForOtherLauncher);
    while (wait_step_(kLockRetry)) {
        if (lock->try_lock())
            return true;
    }
    lock.reset();
    return false;
}

bool TControllerProd::is_in_restricted_network() {
    return is_in_any_network(config_->get_restricted_networks(),
                             [this] { return get_local_ip_addresses(); });
}

std::vector<std::string> TControllerProd::get_local_ip_addresses() {
    std::vector<std::string> addresses = workstation_.local_addresses();
    if (addresses.empty())
        addresses.emplace_back(kNoIpFound);
    return addresses;
}

// A killed run's leftovers go only under the lock: without it, another launcher may be writing.
// The working folder holds the document, the settings folder the list of servers.
void TControllerProd::sync_terminal(const std::shared_ptr<TTerminalConfig>& terminal, bool locked) {
    send(info, format(kSyncingTerminal, {terminal->get_id_code()}));
    const TFileConfigs default_files = config_->get_default_files();
    const TFileConfigs own_files = terminal->get_files();
    const auto count = static_cast<std::int64_t>(default_files.size() + own_files.size());
    send(info, format(kFileCount, {count}));
    const std::vector<TFileSection> sections{{kSyncingDefaultFiles, default_files},
                                             {kSyncingOwnFiles, own_files}};
    if (locked)
        remove_leftovers(sections, {"", native_path(kSettingsFolder)});
    use_store();
    synchroniser_.synchronise(sections);
}

// Under a signed configuration only an executable that matched its digests in this run starts.
bool TControllerProd::may_start(const std::shared_ptr<TTerminalConfig>& terminal) {
    const auto exe_file = terminal->get_exe_file();
    const std::optional<TLocalFile> local = locate(*exe_file);
    if (!digests_bind_ || (local && synchroniser_.is_verified(local->path)))
        return true;
    send(error, format(kExecutableNotVerified, {terminal->get_id_code(), exe_file->get_name()}));
    return false;
}

// A program that cannot be started ends the run with the system's reason.
void TControllerProd::start_terminal(const std::shared_ptr<TTerminalConfig>& terminal) {
    const std::string code = terminal->get_id_code();
    send(info, format(kLaunchingTerminal, {code}));
    const auto exe_file = terminal->get_exe_file();
    const std::optional<TLocalFile> local = locate(*exe_file);
    if (!local)
        throw TError(format(kOutsideWorkingFolder, {exe_file->get_name()}));
    try {
        workstation_.start_program(local->directory, exe_file->get_name());
    } catch (const TError& failure) {
        throw TError(format(kCannotStart, {code, failure.what()}));
    }
    send(info, format(kTerminalLaunched, {code}));
}

// Under a signed configuration MD5 alone binds nothing, so the launcher needs its SHA-256 too.
std::optional<TDigestPair> TControllerProd::launcher_digests() {
    TDigestPair published{config_->get_hash(), config_->get_sha256()};
    if (digests_bind_ && published.sha256.empty()) {
        send(detail, kLauncherUnbound);
        return std::nullopt;
    }
    return published;
}

bool TControllerProd::fetch_launcher_update(const std::string& upgrade_path) {
    const auto published = launcher_digests();
    if (!published)
        return false;
    send(info, kUpdatingLauncher);
    use_store();
    return synchroniser_.fetch_exact(published_launcher_name(), upgrade_path, *published);
}

bool TControllerProd::is_launcher_update(const std::string& path) {
    const auto published = launcher_digests();
    try {
        return published &&
               digests_match(get_file_digests(path, !published->sha256.empty()), *published);
    } catch (const TError&) {
        return false;
    }
}

// A store that the document names wrongly is left unused: the files are asked for by name, as a
// launcher that does not know the element asks for them, and the digests decide as always.
void TControllerProd::use_store() {
    try {
        synchroniser_.use_store(config_->get_store());
    } catch (const TError& failure) {
        send(error, format(kBadStore, {failure.what()}));
        synchroniser_.use_store(std::nullopt);
    }
}

void TControllerProd::send(const TMessageType& type, const std::string& text) {
    listeners_->notify(TCoreMessage(type, text));
}

}  // namespace qiv_start::core
