#include "core/config_prod.h"

#include <array>
#include <exception>

#include "core/error.h"
#include "core/file_config_prod.h"
#include "core/format.h"
#include "core/stream.h"
#include "core/terminal_config_prod.h"
#include "core/text_codec.h"
#include "core/xml_binding.h"
#include "platform/config_cache.h"
#include "platform/files.h"
#include "platform/text.h"

namespace qiv_start::core {
namespace {

const char* const kDocumentName = "qiv_start_2.xml";
const char* const kDownloadFailed = "Błąd pobierania ustawień z sieci.";
const char* const kNoCachedConfig =
    "Brak danych ustawień. Konieczne jest ręczne uruchomienie programów.";
const char* const kNoConfig =
    "Nie udało się pobrać ustawień. Proszę sprawdzić połączenie do sieci internet.";
const char* const kDamagedConfig =
    "Dane ustawień są uszkodzone. Proszę powiadomić administratora systemu.";

struct TColorName {
    std::string_view name;
    TColor value;
};

constexpr TColor system_color(std::uint32_t index) {
    return static_cast<TColor>(0xFF000000u | index);
}

constexpr std::array<TColorName, 52> kColorNames{{
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clScrollBar", system_color(0)},
    {"clBackground", system_color(1)},
    {"clActiveCaption", system_color(2)},
    {"clInactiveCaption", system_color(3)},
    {"clMenu", system_color(4)},
    {"clWindow", system_color(5)},
    {"clWindowFrame", system_color(6)},
    {"clMenuText", system_color(7)},
    {"clWindowText", system_color(8)},
    {"clCaptionText", system_color(9)},
    {"clActiveBorder", system_color(10)},
    {"clInactiveBorder", system_color(11)},
    {"clAppWorkSpace", system_color(12)},
    {"clHighlight", system_color(13)},
    {"clHighlightText", system_color(14)},
    {"clBtnFace", system_color(15)},
    {"clBtnShadow", system_color(16)},
    {"clGrayText", system_color(17)},
    {"clBtnText", system_color(18)},
    {"clInactiveCaptionText", system_color(19)},
    {"clBtnHighlight", system_color(20)},
    {"cl3DDkShadow", system_color(21)},
    {"cl3DLight", system_color(22)},
    {"clInfoText", system_color(23)},
    {"clInfoBk", system_color(24)},
    {"clHotLight", system_color(26)},
    {"clGradientActiveCaption", system_color(27)},
    {"clGradientInactiveCaption", system_color(28)},
    {"clMenuHighlight", system_color(29)},
    {"clMenuBar", system_color(30)},
    {"clNone", 0x1FFFFFFF},
    {"clDefault", 0x20000000},
}};

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Digits in base 10 or 16 up to limit; nothing when there are none, another character follows or
// the value exceeds the limit.
std::optional<std::uint64_t> unsigned_from_digits(std::string_view digits, int base,
                                                  std::uint64_t limit) {
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = hex_value(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

// The hexadecimal digits after a "$", "x", "X", "0x" or "0X" prefix; nothing without a prefix.
std::optional<std::string_view> hex_digits(std::string_view text) {
    if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
        return text.substr(1);
    }
    if (text.starts_with("0x") || text.starts_with("0X"))
        return text.substr(2);
    return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> integer_from_text(std::string_view text) {
    while (text.starts_with(' '))
        text.remove_prefix(1);
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    if (const auto digits = hex_digits(text)) {
        const auto pattern = unsigned_from_digits(*digits, 16, 0xFFFFFFFFu);
        if (!pattern)
            return std::nullopt;
        const auto bits = static_cast<std::uint32_t>(*pattern);
        return static_cast<std::int32_t>(negative ? 0u - bits : bits);
    }
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    const auto value = unsigned_from_digits(text, 10, limit);
    if (!value)
        return std::nullopt;
    const auto signed_value = static_cast<std::int64_t>(*value);
    return static_cast<std::int32_t>(negative ? -signed_value : signed_value);
}

TColor color_from_text(const std::string& text) {
    for (const auto& color : kColorNames) {
        if (equals_ignoring_ascii_case(text, color.name))
            return color.value;
    }
    if (const auto value = integer_from_text(text))
        return *value;
    throw TError(format("\"%s\" is not a valid colour value", {text}));
}

struct TConfigProd::Impl {
    bool is_data_loaded = false;
    std::string config;
    std::shared_ptr<TDownloader> downloader;
    std::shared_ptr<TCoreListener> listener;
    std::vector<std::string> servers;
    std::optional<TXMLQiv_start> dane_xml;
    std::optional<std::vector<TRestrictedNetwork>> restricted_networks;
    unsigned code_page = 0;

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
    std::string read_cached_config();
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

// The local copy keeps the bytes as delivered; the text returned has every line ended by CR LF.
std::string TConfigProd::Impl::download_config() {
    TMemoryStream stream;
    downloader->download_file_from_server(kDocumentName, stream);
    if (stream.get_size() == 0)
        throw TError("The configuration document was not delivered");
    const std::vector<std::string> lines = split_lines(decode_text(stream.data(), code_page));
    platform::write_file_atomic(kDocumentName, stream.data());
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string TConfigProd::Impl::read_cached_config() {
    if (auto text = platform::read_version_file())
        return *text;
    throw TError("No configuration is cached");
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
    platform::write_version_file(config);
}

TConfigProd::TConfigProd(std::shared_ptr<TCoreListener> listener,
                         std::shared_ptr<TDownloader> downloader, std::vector<std::string> servers)
    : TConfigProd(std::move(listener), std::move(downloader), std::move(servers),
                  platform::ansi_code_page()) {}

TConfigProd::TConfigProd(std::shared_ptr<TCoreListener> listener,
                         std::shared_ptr<TDownloader> downloader, std::vector<std::string> servers,
                         unsigned code_page)
    : impl_(std::make_unique<Impl>()) {
    impl_->listener = std::move(listener);
    impl_->downloader = std::move(downloader);
    impl_->servers = std::move(servers);
    impl_->code_page = code_page;
}

TConfigProd::~TConfigProd() = default;

std::string TConfigProd::get_hash() {
    return impl_->data().get_hash();
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
