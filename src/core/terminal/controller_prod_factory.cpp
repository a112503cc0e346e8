#include "core/terminal/controller_prod_factory.h"
#include "core/support/repository_names.h"

#include <exception>
#include <utility>

#include "core/config/config_prod.h"
#include "core/config/release_fetch.h"
#include "core/download/downloader_prod.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/paths.h"
#include "core/support/text_codec.h"
#include "core/terminal/controller_prod.h"
#include "core/terminal/initial_server_list.h"
#include "platform/files.h"
#include "platform/machine_settings.h"
#include "platform/text.h"

namespace qiv_start::core {
namespace {

const char* const kDefaultServer = QIV_DEFAULT_SERVER;

const char* const kCannotDeleteServerList = "Nie można usunąć pliku z ustawieniami: ";
const char* const kServerListOutside =
    "Plik z ustawieniami config\\servers.cfg leży poza katalogiem roboczym.";
const char* const kServerWithoutScheme =
    "Pominięto adres serwera \"%0:s\" z pliku config\\servers.cfg: nie zaczyna się od http:// "
    "ani https://.";
const char* const kCannotSaveServerList =
    "Nie można zapisać pobranej listy serwerów (%0:s); pozostaje dotychczasowa.";
const char* const kInvalidServerList =
    "Pobrana lista serwerów jest nieprawidłowa; pozostaje dotychczasowa.";

// A captive portal's page or an error document must not replace the list of servers: only a
// list whose every non-empty line is an http(s) address is taken.
bool is_valid_server_list(const std::string& bytes) {
    bool any = false;
    for (const auto& line : split_lines(decode_text(bytes))) {
        if (line.empty())
            continue;
        if (!is_server_address(line))
            return false;
        any = true;
    }
    return any;
}

// The names are fixed, but a link in place of the settings folder or of the list that leads out
// of the working folder would have the list replaced there.
std::string server_list_path() {
    std::optional<std::string> path = resolve_inside(kLocalServerList);
    if (!path)
        throw TError(kServerListOutside);
    return *path;
}

void ensure_config_directory() {
    platform::create_directories(native_path(kSettingsFolder));
}

// Only another process holding the empty list ends the run. Any other refusal leaves the file in
// place: the run goes on with no servers and the cached configuration.
void remove_empty_server_list(const std::string& path) {
    try {
        platform::delete_file(path);
    } catch (const TFileInUseError&) {
        throw TError(std::string(kCannotDeleteServerList) + kLocalServerList);
    } catch (const TIoError&) {
    }
}

// A folder without a list starts from the servers that the administrator set for the
// workstation, else the built-in one. An existing list is never replaced here: it may be one
// that the repository has refreshed since.
void prepare_server_list_file() {
    const std::string path = server_list_path();
    if (platform::file_exists(path) && platform::file_size(path) == 0)
        remove_empty_server_list(path);
    if (!platform::file_exists(path)) {
        platform::write_file_atomic(
            path, initial_server_list(platform::read_machine_servers(), kDefaultServer));
    }
}

// An address without its scheme would go out over plain HTTP to a guessed server: it is left out,
// with a warning when the listener is given, and the file stays as it is.
std::vector<std::string> read_server_list(TCoreListener* listener) {
    std::vector<std::string> servers =
        split_lines(decode_text(platform::read_file(server_list_path())));
    std::erase_if(servers, [listener](const std::string& line) {
        if (line.empty() || is_server_address(line))
            return false;
        if (listener != nullptr)
            listener->notify(TCoreMessage(warning, format(kServerWithoutScheme, {line})));
        return true;
    });
    return servers;
}

bool reads_as_configuration(const std::string& bytes) {
    try {
        TConfigProd::from_document(bytes, platform::ansi_code_page());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

std::shared_ptr<TController> TControllerProdFactory::get_controller(
    const std::shared_ptr<TCoreListener>& listener) {
    listener_ = listener;
    if (!pool_)
        pool_ = std::make_shared<TConnectionPool>();
    auto downloader = prepare_downloader();
    auto config =
        std::make_shared<TConfigProd>(listener_, downloader, servers_, platform::ansi_code_page(),
                                      trusted_keys_, std::exchange(delivered_, std::nullopt));
    TDownloaderMaker make_downloader = [servers = servers_, pool = pool_](
                                           std::shared_ptr<TCoreListener> listener,
                                           std::stop_token stop) -> std::unique_ptr<TDownloader> {
        return std::make_unique<TDownloaderProd>(std::move(listener), servers, pool,
                                                 std::move(stop));
    };
    auto controller =
        std::make_shared<TControllerProd>(downloader, config, TWorkstation::system(),
                                          !trusted_keys_.empty(), std::move(make_downloader));
    controller->add_listener(listener_);
    return controller;
}

std::shared_ptr<TDownloader> TControllerProdFactory::prepare_downloader() {
    ensure_config_directory();
    prepare_server_list_file();
    servers_ = read_server_list(nullptr);
    refresh_server_list();
    servers_ = read_server_list(listener_.get());
    return std::make_shared<TDownloaderProd>(listener_, servers_, pool_);
}

void TControllerProdFactory::refresh_server_list() {
    TDownloaderProd downloader(listener_, servers_, pool_);
    if (!trusted_keys_.empty()) {
        refresh_from_release(downloader);
        return;
    }
    TMemoryStream stream(kMaxServerListSize);
    downloader.download_file_from_server(kServerListName, stream);
    if (stream.get_size() != 0)
        take_server_list(stream.data());
}

// The list and the document of the first server whose release passes, so that a tampered or
// lagging mirror can neither move the workstation to servers of its choosing nor take it back
// to an older publish.
void TControllerProdFactory::refresh_from_release(TDownloader& downloader) {
    const TReleasePolicy policy{trusted_keys_, accepted_serial(*listener_), utc_now()};
    auto copy = fetch_release(downloader, servers_, policy, [this](const std::string& reason) {
        listener_->notify(TCoreMessage(warning, reason));
    });
    if (copy)
        take_release(std::move(*copy));
}

// Every effect of a release, in the order in which it takes effect. First the cache, document and
// release in one write: a start stopped at any later step leaves a workstation that works offline
// from what it took. Then the serial, which from then on refuses older releases; then the
// server list; last the local copy, which nothing reads. A document that does not read is not
// taken at all, so that it replaces no cache: the configuration reports it.
void TControllerProdFactory::take_release(TReleaseCopy copy) {
    platform::TSignedDocument document{std::move(copy.document), std::move(copy.record)};
    if (reads_as_configuration(document.bytes)) {
        platform::write_signed_version_file(document);
        accept_serial(copy.release.serial, *listener_);
        take_server_list(copy.server_list);
        write_local_copy(document.bytes);
    }
    delivered_ = std::move(document);
}

// A failure is a detail for the run log, not a failed start.
void TControllerProdFactory::write_local_copy(const std::string& bytes) {
    try {
        platform::write_file_atomic(kDocumentName, bytes);
    } catch (const TError& failure) {
        listener_->notify(TCoreMessage(detail, failure.what()));
    }
}

// Bytes that are not a list of servers are refused with a warning. The list that the folder
// holds already is not written again, and one that cannot be written (a read-only folder) leaves
// the old one, with a warning: the run goes on.
void TControllerProdFactory::take_server_list(const std::string& bytes) {
    if (!is_valid_server_list(bytes)) {
        listener_->notify(TCoreMessage(warning, kInvalidServerList));
        return;
    }
    const std::string path = server_list_path();
    if (platform::file_size(path) == static_cast<std::int64_t>(bytes.size()) &&
        platform::read_file(path) == bytes)
        return;
    try {
        platform::write_file_atomic(path, bytes);
    } catch (const TIoError& e) {
        listener_->notify(TCoreMessage(warning, format(kCannotSaveServerList, {e.what()})));
    }
}

std::shared_ptr<TController> create_controller(const std::shared_ptr<TCoreListener>& listener,
                                               std::shared_ptr<TConnectionPool> pool) {
    return std::make_shared<TControllerProdFactory>(build_trusted_keys(), std::move(pool))
        ->get_controller(listener);
}

}  // namespace qiv_start::core
