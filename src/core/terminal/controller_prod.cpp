#include "core/terminal/controller_prod.h"

#include <algorithm>
#include <chrono>

#include "core/download/hashing_file_stream.h"
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

}  // namespace

struct TControllerProd::TFetched {
    bool existed = false;
    bool current = false;
    std::unique_ptr<THashingFileStream> stream;
    std::optional<std::string> failure;  // why the download could not be stored
};

TWorkstation TWorkstation::system() {
    return {platform::local_ipv4_addresses, platform::start_program};
}

TControllerProd::TControllerProd(std::shared_ptr<TDownloader> downloader,
                                 std::shared_ptr<TConfig> config, TWorkstation workstation,
                                 TDownloaderMaker make_downloader, std::size_t transfers)
    : config_(std::move(config)),
      listeners_(std::make_shared<TListenerCollection<TCoreMessage>>()),
      downloader_(std::move(downloader)),
      workstation_(std::move(workstation)),
      make_downloader_(std::move(make_downloader)),
      transfers_(transfers) {}

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
        sync_terminal(terminal);
        start_terminal(terminal);
        return;
    }
    send(error, format(kTerminalNotAvailable, {terminal_code}));
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
    const TFileConfigs default_files = config_->get_default_files();
    const TFileConfigs own_files = terminal->get_files();
    const auto count = static_cast<std::int64_t>(default_files.size() + own_files.size());
    send(info, format(kFileCount, {count}));
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

void TControllerProd::update_file(const std::shared_ptr<TFileConfig>& file) {
    const std::string name = file->get_name();
    const std::string target_path = file->get_relative_target_path();
    const std::string local_path = join_path(target_path, name);
    bool current = false;
    if (platform::file_exists(local_path)) {
        send(info, format(kCheckingVersion, {name}));
        current = get_file_md5(local_path) == file->get_hash();
        if (current) {
            send(info, format(kVersionCurrent, {name}));
        } else {
            try {
                platform::delete_file(local_path);
            } catch (const TError& failure) {
                send(error, format(kCannotDelete, {name, failure.what()}));
                return;
            }
        }
    }
    if (!current && !download_file(file, local_path))
        return;
    if (file->unzip())
        extract_archive(target_path, name);
}

// The bytes go to a temporary file beside the target, hashed as they arrive, and replace the
// target only when something arrived. False when the file could not be brought in.
bool TControllerProd::download_file(const std::shared_ptr<TFileConfig>& file,
                                    const std::string& local_path) {
    const std::string name = file->get_name();
    try {
        // A directory that cannot be created shows as the failure to create the file in it.
        platform::create_directories(native_path(file->get_relative_target_path()));
        THashingFileStream stream(local_path);
        downloader_->download_file_from_server(name, stream);
        if (stream.get_size() == 0) {
            send(error, format(kCannotSave, {name, kNothingDelivered}));
            return false;
        }
        stream.commit();
        const std::string digest = stream.finish_digest();
        if (!equals_ignoring_ascii_case(digest, file->get_hash())) {
            send(warning, format(kDigestMismatch, {name}));
        }
        return true;
    } catch (const TError& failure) {
        send(error, format(kCannotSave, {name, failure.what()}));
        return false;
    }
}

// The checks and downloads run ahead on the look-ahead's threads, each file's messages kept for
// its turn. The turns come in order and do, with what was fetched, what update_file does.
void TControllerProd::sync_ahead(const TFileConfigs& default_files, const TFileConfigs& own_files) {
    std::vector<TPlannedFile> plan;
    for (const auto* files : {&default_files, &own_files}) {
        for (const auto& file : *files)
            plan.push_back(plan_file(file));
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
                             fetched[index] = fetch(plan[index], record, stop, transfers);
                     });
    send(info, format(kSyncingDefaultFiles, {}));
    for (std::size_t index = 0; index < plan.size(); ++index) {
        if (index == default_files.size())
            send(info, format(kSyncingOwnFiles, {}));
        take_turn(ahead, index, plan[index], fetched[index]);
    }
    if (own_files.empty())
        send(info, format(kSyncingOwnFiles, {}));
}

// Runs on a worker: the digest check and the download into a temporary file, nothing that
// changes the file itself.
TControllerProd::TFetched TControllerProd::fetch(const TPlannedFile& file, TCoreListener& record,
                                                 std::stop_token stop,
                                                 std::counting_semaphore<>& transfers) {
    TFetched fetched;
    if (platform::file_exists(file.local_path)) {
        fetched.existed = true;
        record.notify(TCoreMessage(info, format(kCheckingVersion, {file.name})));
        fetched.current = get_file_md5(file.local_path) == file.hash;
        if (fetched.current) {
            record.notify(TCoreMessage(info, format(kVersionCurrent, {file.name})));
            return fetched;
        }
    }
    try {
        platform::create_directories(native_path(file.target_path));
        fetched.stream = std::make_unique<THashingFileStream>(file.local_path);
        {
            const TTransferSlot slot(transfers, stop);
            if (!slot.taken())
                return fetched;
            // The record outlives the downloader, which is let go at the end of this statement.
            const std::shared_ptr<TCoreListener> listener(std::shared_ptr<TCoreListener>(),
                                                          &record);
            make_downloader_(listener, stop)->download_file_from_server(file.name, *fetched.stream);
        }
        // The data goes to the disk here, outside the download's slot, so that the replacement
        // at the turn is quick.
        if (fetched.stream->get_size() > 0)
            fetched.stream->flush();
    } catch (const TError& failure) {
        fetched.failure = failure.what();
    }
    return fetched;
}

void TControllerProd::take_turn(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                                TFetched& fetched) {
    if (!file.readable) {
        update_file(file.config);
    } else {
        ahead.follow(index, *listeners_);
        if (fetched.current || complete_download(file, fetched)) {
            if (file.unzip)
                extract_archive(file.target_path, file.name);
        }
        fetched = {};
    }
    ahead.finish(index);
}

// The stale copy goes now, at the file's turn, and the new one takes its place.
bool TControllerProd::complete_download(const TPlannedFile& file, TFetched& fetched) {
    const std::string& name = file.name;
    if (fetched.existed) {
        try {
            platform::delete_file(file.local_path);
        } catch (const TError& failure) {
            send(error, format(kCannotDelete, {name, failure.what()}));
            return false;
        }
    }
    if (fetched.failure) {
        send(error, format(kCannotSave, {name, *fetched.failure}));
        return false;
    }
    if (fetched.stream->get_size() == 0) {
        send(error, format(kCannotSave, {name, kNothingDelivered}));
        return false;
    }
    try {
        fetched.stream->commit();
    } catch (const TError& failure) {
        send(error, format(kCannotSave, {name, failure.what()}));
        return false;
    }
    if (!equals_ignoring_ascii_case(fetched.stream->finish_digest(), file.hash))
        send(warning, format(kDigestMismatch, {name}));
    return true;
}

void TControllerProd::extract_archive(const std::string& target_path, const std::string& name) {
    extract_missing_members(join_path(target_path, name), native_path(target_path));
}

void TControllerProd::start_terminal(const std::shared_ptr<TTerminalConfig>& terminal) {
    const std::string code = terminal->get_id_code();
    send(info, format(kLaunchingTerminal, {code}));
    const auto exe_file = terminal->get_exe_file();
    workstation_.start_program(native_path(exe_file->get_relative_target_path()),
                               native_path(exe_file->get_name()));
    send(info, format(kTerminalLaunched, {code}));
}

void TControllerProd::send(const TMessageType& type, const std::string& text) {
    listeners_->notify(TCoreMessage(type, text));
}

}  // namespace qiv_start::core
