#include "core/terminal/controller_prod.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "core/download/verified_file_stream.h"
#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/md5.h"
#include "core/support/paths.h"
#include "core/terminal/file_version.h"
#include "core/terminal/look_ahead.h"
#include "core/terminal/sync_plan.h"
#include "core/terminal/terminal_access.h"
#include "core/terminal/zip_extract.h"
#include "platform/files.h"
#include "platform/network.h"
#include "platform/process.h"

namespace qiv_start::core {
namespace {

const char* const kStartingTerminal = "uruchamianie terminala \"%0:s\"";
const char* const kTerminalNotAvailable = "Terminal z kodem \"%0:s\" nie jest dostępny.";
const char* const kLaunchingTerminal = "uruchomienie terminala \"%0:s\"";
const char* const kTerminalLaunched = "terminal \"%0:s\" uruchomiono";

const char* const kSyncingTerminal = "pobieranie plików terminala \"%0:s\"";
const char* const kFileCount = "file_count|%0:d";
const char* const kSyncingDefaultFiles = "pobieranie plików wspólnych";
const char* const kSyncingOwnFiles = "pobieranie plików szczególnych";
const char* const kCheckingVersion = "Sprawdzanie wersji pliku|%0:s";
const char* const kVersionCurrent = "Wersji pliku jest poprawna|%0:s";
const char* const kCannotDelete = "Błąd podczas usuwania pliku \"%0:s\": %1:s";
const char* const kCannotSave = "Błąd zapisywania pliku \"%0:s\": %1:s";
const char* const kNothingDelivered = "Niemożliwe było sciągnięcie pliku";
const char* const kDigestMismatch =
    "Suma kontrolna pobranego pliku \"%0:s\" nie zgadza się z ustawieniami.";
const char* const kMismatchNotSaved =
    "Plik \"%0:s\" nie został zapisany: jego suma kontrolna nie zgadza się z ustawieniami.";
const char* const kExecutableNotVerified =
    "Terminal \"%0:s\" nie został uruchomiony: plik \"%1:s\" nie zgadza się z ustawieniami.";
const char* const kOutsideWorkingFolder = "Plik \"%0:s\" leży poza katalogiem roboczym.";
const char* const kCannotStart = "Nie można uruchomić terminala \"%0:s\": %1:s";
const char* const kWaitingForOtherLauncher =
    "oczekiwanie na zakończenie pracy innej kopii programu w tym katalogu";

// Held while files are synchronised and started, so that two launchers never work on one folder
// at once.
const char* const kLockFile = "qiv_start_2.lock";

// One of the downloads that may be under way at once, held for as long as it lives. Waiting for
// one ends without it once a stop is requested.
class TTransferSlot {
  public:
    TTransferSlot(std::counting_semaphore<>& slots, const std::stop_token& stop) : slots_(slots) {
        while (!taken_ && !stop.stop_requested())
            taken_ = slots_.try_acquire_for(std::chrono::milliseconds(20));
    }
    ~TTransferSlot() {
        if (taken_)
            slots_.release();
    }
    TTransferSlot(const TTransferSlot&) = delete;
    TTransferSlot& operator=(const TTransferSlot&) = delete;

    bool taken() const { return taken_; }

  private:
    std::counting_semaphore<>& slots_;
    bool taken_ = false;
};

// The local copy has the published MD5 and, when one is published, SHA-256.
bool matches_digests(const std::string& path, const TDigestPair& published) {
    const TDigestPair digests = get_file_digests(path, !published.sha256.empty());
    return digests.md5 == published.md5 && digests_match(digests, published);
}

}  // namespace

struct TControllerProd::TFetched {
    bool current = false;
    std::unique_ptr<TVerifiedFileStream> stream;  // none when current
    std::optional<std::string> failure;           // why the copy could not be put on the disk
};

TWorkstation TWorkstation::system() {
    return {platform::local_ipv4_addresses, platform::start_program};
}

TControllerProd::TControllerProd(std::shared_ptr<TDownloader> downloader,
                                 std::shared_ptr<TConfig> config, TWorkstation workstation,
                                 bool digests_bind, TDownloaderMaker make_downloader,
                                 std::size_t transfers)
    : config_(std::move(config)),
      listeners_(std::make_shared<TListenerCollection<TCoreMessage>>()),
      downloader_(std::move(downloader)),
      workstation_(std::move(workstation)),
      make_downloader_(std::move(make_downloader)),
      transfers_(transfers),
      digests_bind_(digests_bind) {}

void TControllerProd::add_listener(const std::shared_ptr<TCoreListener>& listener) {
    listeners_->add(listener);
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

void TControllerProd::run_terminal(const std::string& terminal_code) {
    for (const auto& terminal : get_accessible_terminals()) {
        if (terminal->get_id_code() != terminal_code)
            continue;
        send(info, format(kStartingTerminal, {terminal_code}));
        const auto lock = lock_working_folder();
        sync_terminal(terminal);
        if (may_start(terminal))
            start_terminal(terminal);
        return;
    }
    send(error, format(kTerminalNotAvailable, {terminal_code}));
}

// A folder where no lock file can be made is one where nobody else can write either: the run
// goes on without the lock, as it always did there.
std::unique_ptr<platform::TFolderLock> TControllerProd::lock_working_folder() {
    try {
        auto lock = std::make_unique<platform::TFolderLock>(kLockFile);
        if (!lock->try_lock()) {
            send(info, kWaitingForOtherLauncher);
            lock->lock();
        }
        return lock;
    } catch (const TIoError&) {
        return nullptr;
    }
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

void TControllerProd::sync_terminal(const std::shared_ptr<TTerminalConfig>& terminal) {
    send(info, format(kSyncingTerminal, {terminal->get_id_code()}));
    verified_.clear();
    const TFileConfigs default_files = config_->get_default_files();
    const TFileConfigs own_files = terminal->get_files();
    const auto count = static_cast<std::int64_t>(default_files.size() + own_files.size());
    send(info, format(kFileCount, {count}));
    remove_leftovers(default_files);
    remove_leftovers(own_files);
    if (make_downloader_ && transfers_ > 1) {
        sync_ahead(default_files, own_files);
        return;
    }
    send(info, format(kSyncingDefaultFiles, {}));
    for (const auto& file : default_files)
        update_file(file);
    send(info, format(kSyncingOwnFiles, {}));
    for (const auto& file : own_files)
        update_file(file);
}

// A file's place: its folder resolved inside the working folder, and a plain name in it.
std::optional<TLocalFile> TControllerProd::locate(TFileConfig& file) {
    const std::string name = file.get_name();
    std::optional<std::string> directory = resolve_inside(file.get_relative_target_path());
    if (!directory || !is_plain_name(name))
        return std::nullopt;
    std::string path = directory->empty() ? name : *directory + platform::path_separator() + name;
    return TLocalFile{std::move(*directory), std::move(path)};
}

// Temporary files that a killed run left beside the files: each folder is read once. Nobody else
// writes there while the folder is locked; one that cannot be removed stays.
void TControllerProd::remove_leftovers(const TFileConfigs& files) {
    std::map<std::string, std::set<std::string>> names_by_folder;
    for (const auto& file : files) {
        if (const auto local = locate(*file))
            names_by_folder[local->directory].insert(file->get_name());
    }
    for (const auto& [folder, names] : names_by_folder) {
        const std::string listed = folder.empty() ? "." : folder;
        for (const std::string& entry : platform::list_directory(listed)) {
            const auto part = entry.rfind(".part");
            if (part == std::string::npos || !names.contains(entry.substr(0, part)) ||
                !platform::is_temporary_name_of(entry.substr(0, part), entry)) {
                continue;
            }
            try {
                platform::delete_file(listed + platform::path_separator() + entry);
            } catch (const TError&) {
            }
        }
    }
}

void TControllerProd::update_file(const std::shared_ptr<TFileConfig>& file) {
    const std::optional<TLocalFile> local = locate(*file);
    if (!local) {
        send(error, format(kOutsideWorkingFolder, {file->get_name()}));
        return;
    }
    if (!is_current(*file, *local) && !download_file(*file, *local))
        return;
    if (file->unzip())
        extract_archive(local->directory, file->get_name());
}

bool TControllerProd::is_current(TFileConfig& file, const TLocalFile& local) {
    if (!platform::file_exists(local.path))
        return false;
    const std::string name = file.get_name();
    send(info, format(kCheckingVersion, {name}));
    if (!matches_digests(local.path, {file.get_hash(), file.get_sha256()}))
        return false;
    verified_.insert(local.path);
    send(info, format(kVersionCurrent, {name}));
    return true;
}

// The new copy arrives in a temporary file beside the old one, which stays until that copy is
// complete and then goes in one rename. False when the file could not be brought in.
bool TControllerProd::download_file(TFileConfig& file, const TLocalFile& local) {
    const std::string name = file.get_name();
    // Under a signed configuration the digests are what the administrator vouches for: a copy
    // that differs from them never stands in for the file.
    TVerifiedFileStream stream(local.directory, local.path, {file.get_hash(), file.get_sha256()},
                               !digests_bind_);
    downloader_->download_file_from_server(name, stream);
    return store_download(stream, name, local.path);
}

bool TControllerProd::store_download(TVerifiedFileStream& stream, const std::string& name,
                                     const std::string& path) {
    if (const auto& failure = stream.write_failure()) {
        send(error, format(kCannotSave, {name, *failure}));
        return false;
    }
    if (!stream.has_copy()) {
        send(error, stream.had_mismatch() ? format(kMismatchNotSaved, {name})
                                          : format(kCannotSave, {name, kNothingDelivered}));
        return false;
    }
    if (!replace_old_copy(stream, name))
        return false;
    if (stream.is_verified()) {
        verified_.insert(path);
    } else {
        send(warning, format(kDigestMismatch, {name}));
    }
    return true;
}

// Under a signed configuration only an executable that matched its digests in this run starts.
bool TControllerProd::may_start(const std::shared_ptr<TTerminalConfig>& terminal) {
    const auto exe_file = terminal->get_exe_file();
    const std::optional<TLocalFile> local = locate(*exe_file);
    if (!digests_bind_ || (local && verified_.contains(local->path)))
        return true;
    send(error, format(kExecutableNotVerified, {terminal->get_id_code(), exe_file->get_name()}));
    return false;
}

bool TControllerProd::replace_old_copy(TVerifiedFileStream& stream, const std::string& name) {
    try {
        stream.commit();
        return true;
    } catch (const platform::TFileInUseError& failure) {
        send(error, format(kCannotDelete, {name, failure.what()}));
    } catch (const TError& failure) {
        send(error, format(kCannotSave, {name, failure.what()}));
    }
    return false;
}

// The checks and downloads run ahead on the look-ahead's threads, each file's messages kept for
// its turn. The turns come in order and do, with what was fetched, what update_file does.
void TControllerProd::sync_ahead(const TFileConfigs& default_files, const TFileConfigs& own_files) {
    std::vector<TPlannedFile> plan;
    std::vector<std::optional<TLocalFile>> locals;
    for (const auto* files : {&default_files, &own_files}) {
        for (const auto& file : *files) {
            plan.push_back(plan_file(file));
            locals.push_back(plan.back().readable ? locate(*file) : std::nullopt);
            // One outside the working folder is reported at its turn, the way it always was.
            plan.back().readable = plan.back().readable && locals.back().has_value();
        }
    }
    // Declared before the look-ahead: what was fetched and not used goes only after the workers
    // have stopped, and takes its temporary file with it.
    std::vector<TFetched> fetched(plan.size());
    std::counting_semaphore<> transfers(static_cast<std::ptrdiff_t>(transfers_));
    const std::size_t threads = transfers_ * kLookAheadThreads / kMaxTransfers;
    const std::size_t window = transfers_ * kLookAheadWindow / kMaxTransfers;
    TLookAhead ahead(predecessors(plan), threads, window,
                     [&](std::size_t index, TCoreListener& record, std::stop_token stop) {
                         if (plan[index].readable)
                             fetched[index] =
                                 fetch(plan[index], *locals[index], record, stop, transfers);
                     });
    send(info, format(kSyncingDefaultFiles, {}));
    for (std::size_t index = 0; index < plan.size(); ++index) {
        if (index == default_files.size())
            send(info, format(kSyncingOwnFiles, {}));
        take_turn(ahead, index, plan[index], locals[index], fetched[index]);
    }
    if (own_files.empty())
        send(info, format(kSyncingOwnFiles, {}));
}

// Runs on a worker: the digest check and the download into a temporary file, nothing that
// changes the file itself.
TControllerProd::TFetched TControllerProd::fetch(const TPlannedFile& file, const TLocalFile& local,
                                                 TCoreListener& record, std::stop_token stop,
                                                 std::counting_semaphore<>& transfers) {
    TFetched fetched;
    if (platform::file_exists(local.path)) {
        record.notify(TCoreMessage(info, format(kCheckingVersion, {file.name})));
        fetched.current = matches_digests(local.path, {file.hash, file.sha256});
        if (fetched.current) {
            record.notify(TCoreMessage(info, format(kVersionCurrent, {file.name})));
            return fetched;
        }
    }
    fetched.stream = std::make_unique<TVerifiedFileStream>(
        local.directory, local.path, TDigestPair{file.hash, file.sha256}, !digests_bind_);
    {
        const TTransferSlot slot(transfers, stop);
        if (!slot.taken())
            return fetched;
        // The record outlives the downloader, which is let go at the end of this statement.
        const std::shared_ptr<TCoreListener> listener(std::shared_ptr<TCoreListener>(), &record);
        make_downloader_(listener, stop)->download_file_from_server(file.name, *fetched.stream);
    }
    // The data goes to the disk here, outside the download's slot, so that the replacement at
    // the turn is quick.
    try {
        fetched.stream->flush();
    } catch (const TError& failure) {
        fetched.failure = failure.what();
    }
    return fetched;
}

void TControllerProd::take_turn(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                                const std::optional<TLocalFile>& local, TFetched& fetched) {
    if (!file.readable) {
        update_file(file.config);
    } else {
        ahead.follow(index, *listeners_);
        bool present = fetched.current;
        if (present)
            verified_.insert(local->path);
        else if (fetched.failure)
            send(error, format(kCannotSave, {file.name, *fetched.failure}));
        else
            present = store_download(*fetched.stream, file.name, local->path);
        if (present && file.unzip)
            extract_archive(local->directory, file.name);
        fetched = {};
    }
    ahead.finish(index);
}

void TControllerProd::extract_archive(const std::string& directory, const std::string& name) {
    const std::string archive =
        directory.empty() ? name : directory + platform::path_separator() + name;
    extract_missing_members(archive, directory.empty() ? "." : directory);
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

void TControllerProd::send(const TMessageType& type, const std::string& text) {
    listeners_->notify(TCoreMessage(type, text));
}

}  // namespace qiv_start::core
