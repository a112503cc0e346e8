#include "core/config/config_prod.h"
#include "core/config/config_values.h"

#include <exception>
#include <utility>

#include "core/config/file_config_prod.h"
#include "core/config/release_fetch.h"
#include "core/config/terminal_config_prod.h"
#include "core/config/xml_binding.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/paths.h"
#include "core/support/repository_names.h"
#include "core/support/stream.h"
#include "core/support/text_codec.h"
#include "platform/config_cache.h"
#include "platform/files.h"
#include "platform/text.h"

namespace qiv_start::core {
namespace {

const char* const kExpiredCache = "Zapisane ustawienia (wydanie nr %0:s) wygasły %1:s.";
const char* const kBadReportName = "Nazwa pliku raportu \"%0:s\" nie jest prawidłowa.";
const char* const kDownloadFailed = "Błąd pobierania ustawień z sieci.";
const char* const kNoCachedConfig =
    "Brak danych ustawień. Konieczne jest ręczne uruchomienie programów.";
const char* const kNoConfig =
    "Nie udało się pobrać ustawień. Proszę sprawdzić połączenie do sieci internet.";
const char* const kDamagedConfig =
    "Dane ustawień są uszkodzone. Proszę powiadomić administratora systemu.";

// Every line, the last one too, ended by CR LF; CR, LF and CR LF all end a line. One pass, no
// list of lines, so a big document is not held several times over.
std::string with_crlf_line_ends(const std::string& text) {
    std::string result;
    result.reserve(text.size() + text.size() / 16 + 2);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        const bool last = end == std::string::npos;
        if (last)
            end = text.size();
        result.append(text, start, end - start);
        result += "\r\n";
        if (last)
            break;
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return result;
}

// A name inside the repository: folders and a file, each a plain name, separated by slashes.
bool is_repository_name(const std::string& name) {
    constexpr std::size_t kMaxName = 255;
    if (name.empty() || name.size() > kMaxName)
        return false;
    for (std::size_t start = 0;;) {
        const std::size_t slash = name.find('/', start);
        if (!is_plain_name(std::string_view(name).substr(start, slash - start)))
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

}  // namespace

struct TConfigProd::Impl {
    bool is_data_loaded = false;
    bool fetched = false;  // config came from a server in this run
    std::string config;
    std::shared_ptr<TDownloader> downloader;
    std::shared_ptr<TCoreListener> listener;
    std::vector<std::string> servers;
    std::optional<TXMLQiv_start> dane_xml;
    std::optional<std::vector<TRestrictedNetwork>> restricted_networks;
    unsigned code_page = 0;
    TTrustedKeys trusted_keys;
    // With trusted keys: the document delivered under a release, and then the bytes and release
    // of the document that config was read from.
    std::optional<platform::TSignedDocument> delivered;
    std::optional<platform::TSignedDocument> signed_document;
    bool cached = false;  // the document is in the cache as it is

    // The document's root element, loaded first when needed.
    const TXMLQiv_start& data() {
        load_data();
        return *dane_xml;
    }
    TColor color(TXMLGuiParamType (TXMLQiv_start::*element)() const);
    std::int32_t size(TXMLGuiParamType (TXMLQiv_start::*element)() const,
                      std::int32_t default_size);

    void load_data();
    void fetch_config();
    std::string download_config();
    std::string take_delivered();
    std::string read_cached_config();
    std::string read_signed_cache();
    void parse_config();
    void store_config();
    void send(const TMessageType& type, const std::string& text) {
        listener->notify(TCoreMessage(type, text));
    }
};

namespace {

// The value attribute of a look-and-feel element; an absent one has no value to read.
std::string gui_value(const TXMLGuiParamType& element) {
    if (auto value = element.get_attribute("value"))
        return *value;
    throw TError(format("Element \"%s\" has no attribute \"value\"", {element.local_name()}));
}

}  // namespace

TColor TConfigProd::Impl::color(TXMLGuiParamType (TXMLQiv_start::*element)() const) {
    return color_from_text(gui_value((data().*element)()));
}

std::int32_t TConfigProd::Impl::size(TXMLGuiParamType (TXMLQiv_start::*element)() const,
                                     std::int32_t default_size) {
    return integer_from_text(gui_value((data().*element)())).value_or(default_size);
}

// An error leaves the data not loaded, so the next getter starts again with a new download.
void TConfigProd::Impl::load_data() {
    if (is_data_loaded)
        return;
    fetch_config();
    parse_config();
    store_config();
    is_data_loaded = true;
}

void TConfigProd::Impl::fetch_config() {
    try {
        config = download_config();
        fetched = true;
        return;
    } catch (const std::exception&) {
        send(warning, kDownloadFailed);
    }
    try {
        config = read_cached_config();
        return;
    } catch (const std::exception&) {
        send(warning, kNoCachedConfig);
    }
    send(error, kNoConfig);
    throw TError(kNoConfig);
}

// The local copy keeps the bytes as delivered, and is written only for a document that is taken.
std::string TConfigProd::Impl::download_config() {
    if (!trusted_keys.empty())
        return take_delivered();
    TMemoryStream stream(kMaxDocumentSize);
    downloader->download_file_from_server(kDocumentName, stream);
    const std::string bytes = stream.data();
    if (bytes.empty())
        throw TError("The configuration document was not delivered");
    std::string text = config_text_from_bytes(bytes, code_page);
    platform::write_file_atomic(kDocumentName, bytes);
    return text;
}

// Whoever took the release has cached the document and written its local copy already.
std::string TConfigProd::Impl::take_delivered() {
    if (!delivered || delivered->bytes.empty())
        throw TError("The configuration document was not delivered");
    signed_document = std::exchange(delivered, std::nullopt);
    cached = true;
    return config_text_from_bytes(signed_document->bytes, code_page);
}

std::string TConfigProd::Impl::read_cached_config() {
    if (!trusted_keys.empty())
        return read_signed_cache();
    if (auto text = platform::read_version_file())
        return *text;
    throw TError("No configuration is cached");
}

// The release is checked again on every read, so a document put in the cache by hand, or an older
// release's, is not taken. An expired one still serves: a shop must be able to sell offline.
std::string TConfigProd::Impl::read_signed_cache() {
    auto cached = platform::read_signed_version_file();
    const auto release = cached ? verify_release(cached->release, trusted_keys) : std::nullopt;
    if (!release || describe(cached->bytes) != release->document ||
        release->serial < accepted_serial(*listener))
        throw TError("No signed configuration is cached");
    if (release->expires && *release->expires <= utc_now()) {
        send(detail,
             format(kExpiredCache, {std::to_string(release->serial), utc_text(*release->expires)}));
    }
    signed_document = std::move(*cached);
    return config_text_from_bytes(signed_document->bytes, code_page);
}

void TConfigProd::Impl::parse_config() {
    try {
        dane_xml = get_qiv_start(parse_xml_document(config));
    } catch (const std::exception&) {
        send(error, kDamagedConfig);
        throw TError(kDamagedConfig);
    }
}

void TConfigProd::Impl::store_config() {
    if (cached)
        return;
    if (signed_document) {
        platform::write_signed_version_file(*signed_document);
    } else {
        platform::write_version_file(config);
    }
}

TConfigProd::TConfigProd(std::shared_ptr<TCoreListener> listener,
                         std::shared_ptr<TDownloader> downloader, std::vector<std::string> servers)
    : TConfigProd(std::move(listener), std::move(downloader), std::move(servers),
                  platform::ansi_code_page()) {}

TConfigProd::TConfigProd(std::shared_ptr<TCoreListener> listener,
                         std::shared_ptr<TDownloader> downloader, std::vector<std::string> servers,
                         unsigned code_page)
    : TConfigProd(std::move(listener), std::move(downloader), std::move(servers), code_page,
                  build_trusted_keys()) {}

TConfigProd::TConfigProd(std::shared_ptr<TCoreListener> listener,
                         std::shared_ptr<TDownloader> downloader, std::vector<std::string> servers,
                         unsigned code_page, TTrustedKeys trusted_keys,
                         std::optional<platform::TSignedDocument> delivered)
    : impl_(std::make_unique<Impl>()) {
    impl_->delivered = std::move(delivered);
    impl_->listener = std::move(listener);
    impl_->downloader = std::move(downloader);
    impl_->servers = std::move(servers);
    impl_->code_page = code_page;
    impl_->trusted_keys = std::move(trusted_keys);
}

TConfigProd::~TConfigProd() = default;

std::shared_ptr<TConfigProd> TConfigProd::from_document(const std::string& bytes,
                                                        unsigned code_page) {
    auto config =
        std::make_shared<TConfigProd>(nullptr, nullptr, std::vector<std::string>{}, code_page);
    Impl& impl = *config->impl_;
    impl.config = config_text_from_bytes(bytes, code_page);
    impl.dane_xml = get_qiv_start(parse_xml_document(impl.config));
    impl.is_data_loaded = true;
    return config;
}

std::string config_text_from_bytes(const std::string& bytes, unsigned code_page) {
    return with_crlf_line_ends(decode_text(bytes, code_page));
}

std::string TConfigProd::get_hash() {
    return impl_->data().get_hash();
}

std::string TConfigProd::get_sha256() {
    return impl_->data().get_sha256();
}

bool TConfigProd::get_self_update() {
    return impl_->data().get_self_update();
}

std::optional<std::string> TConfigProd::get_store() {
    const std::optional<std::string> value = impl_->data().get_store();
    if (!value)
        return std::nullopt;
    return store_folder_from_text(*value);
}

std::optional<TReportSetting> TConfigProd::get_report() {
    const auto report = impl_->data().get_report();
    if (!report)
        return std::nullopt;
    if (!is_repository_name(report->first))
        throw TError(format(kBadReportName, {report->first}));
    return TReportSetting{report->first, report->second != "false"};
}

bool TConfigProd::is_fetched() {
    impl_->load_data();
    return impl_->fetched;
}

std::vector<std::string> TConfigProd::get_servers() {
    return impl_->servers;
}

TTerminalConfigs TConfigProd::get_terminals() {
    const TXMLQiv_start& root = impl_->data();
    TTerminalConfigs result;
    for (const TXMLTerminalType& terminal : root.get_terminal().items()) {
        result.push_back(
            std::make_shared<TTerminalConfigProd>(terminal, root.get_dll(), impl_->code_page));
    }
    return result;
}

TFileConfigs TConfigProd::get_default_files() {
    TFileConfigs result;
    for (const TXMLFileType& file : impl_->data().get_default_file().items()) {
        result.push_back(std::make_shared<TFileConfigProd>(file));
    }
    return result;
}

// Loaded before the list is stored, so a failed load caches no empty list.
std::vector<TRestrictedNetwork> TConfigProd::get_restricted_networks() {
    if (!impl_->restricted_networks) {
        std::vector<TRestrictedNetwork> list;
        for (const TXMLNetworkType& network : impl_->data().get_network().items()) {
            list.push_back({network.get_mask(), network.get_ip()});
        }
        impl_->restricted_networks = std::move(list);
    }
    return *impl_->restricted_networks;
}

std::string TConfigProd::get_admin_email() {
    return impl_->data().get_admin_email();
}
std::string TConfigProd::get_page_url() {
    return impl_->data().get_link();
}

TColor TConfigProd::get_color_form() {
    return impl_->color(&TXMLQiv_start::get_clForm);
}
TColor TConfigProd::get_color_text() {
    return impl_->color(&TXMLQiv_start::get_clText);
}
TColor TConfigProd::get_color_link() {
    return impl_->color(&TXMLQiv_start::get_clLink);
}
TColor TConfigProd::get_color_btn_normal() {
    return impl_->color(&TXMLQiv_start::get_clBtnNormal);
}
TColor TConfigProd::get_color_btn_highlight() {
    return impl_->color(&TXMLQiv_start::get_clBtnHighlight);
}
TColor TConfigProd::get_color_btn_text() {
    return impl_->color(&TXMLQiv_start::get_clBtnText);
}
TColor TConfigProd::get_color_btn_frame() {
    return impl_->color(&TXMLQiv_start::get_clBtnFrame);
}

std::int32_t TConfigProd::get_text_size() {
    return impl_->size(&TXMLQiv_start::get_textSize, 15);
}
std::int32_t TConfigProd::get_btn_text_size() {
    return impl_->size(&TXMLQiv_start::get_btnTextSize, 15);
}
std::int32_t TConfigProd::get_margin() {
    return impl_->size(&TXMLQiv_start::get_margin, 10);
}
std::int32_t TConfigProd::get_top_margin() {
    return impl_->size(&TXMLQiv_start::get_topMargin, 10);
}
std::int32_t TConfigProd::get_btn_width() {
    return impl_->size(&TXMLQiv_start::get_btnWidth, 1000);
}
std::int32_t TConfigProd::get_btn_height() {
    return impl_->size(&TXMLQiv_start::get_btnHeight, 30);
}

}  // namespace qiv_start::core
