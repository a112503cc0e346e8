#include "core/terminal/controller_prod.h"

#include <algorithm>

#include "core/download/hashing_file_stream.h"
#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/md5.h"
#include "core/support/paths.h"
#include "core/terminal/file_version.h"
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

// A file entry's SHA-256 is optional; where present it must match as well as the MD5.
bool sha256_matches(const TDigestPair& digests, TFileConfig& file) {
    const std::string published = file.get_sha256();
    return published.empty() || equals_ignoring_ascii_case(digests.sha256, published);
}

}  // namespace

TWorkstation TWorkstation::system() {
    return {platform::local_ipv4_addresses, platform::start_program};
}

TControllerProd::TControllerProd(std::shared_ptr<TDownloader> downloader,
                                 std::shared_ptr<TConfig> config, TWorkstation workstation,
                                 bool digests_bind)
    : config_(std::move(config)),
      listeners_(std::make_shared<TListenerCollection<TCoreMessage>>()),
      downloader_(std::move(downloader)),
      workstation_(std::move(workstation)),
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
        sync_terminal(terminal);
        if (may_start(terminal))
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
    verified_.clear();
    const TFileConfigs default_files = config_->get_default_files();
    const TFileConfigs own_files = terminal->get_files();
    const auto count = static_cast<std::int64_t>(default_files.size() + own_files.size());
    send(info, format(kFileCount, {count}));
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
        const TDigestPair digests = get_file_digests(local_path, !file->get_sha256().empty());
        current = digests.md5 == file->get_hash() && sha256_matches(digests, *file);
        if (current) {
            verified_.insert(local_path);
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
        THashingFileStream stream(local_path, !file->get_sha256().empty());
        downloader_->download_file_from_server(name, stream);
        if (stream.get_size() == 0) {
            send(error, format(kCannotSave, {name, kNothingDelivered}));
            return false;
        }
        const TDigestPair digests = stream.finish_digests();
        const bool matches = equals_ignoring_ascii_case(digests.md5, file->get_hash()) &&
                             sha256_matches(digests, *file);
        // Under a signed configuration the digests are what the administrator vouches for.
        if (!matches && digests_bind_) {
            send(error, format(kMismatchNotSaved, {name}));
            return false;
        }
        stream.commit();
        if (matches) {
            verified_.insert(local_path);
        } else {
            send(warning, format(kDigestMismatch, {name}));
        }
        return true;
    } catch (const TError& failure) {
        send(error, format(kCannotSave, {name, failure.what()}));
        return false;
    }
}

// Under a signed configuration only an executable that matched its digests in this run starts.
bool TControllerProd::may_start(const std::shared_ptr<TTerminalConfig>& terminal) {
    const auto exe_file = terminal->get_exe_file();
    const std::string name = exe_file->get_name();
    if (!digests_bind_ || verified_.contains(join_path(exe_file->get_relative_target_path(), name)))
        return true;
    send(error, format(kExecutableNotVerified, {terminal->get_id_code(), name}));
    return false;
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
