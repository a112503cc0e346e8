#include "core/config/config_values.h"

#include <algorithm>
#include <array>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

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

namespace {

bool is_store_character(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' ||
           c == '-' || c == '_';
}

// A plain folder name that a server takes as it stands: no escape, no separator, no step up.
bool is_store_segment(std::string_view segment) {
    return !segment.empty() && segment != "." && segment != ".." &&
           std::all_of(segment.begin(), segment.end(), is_store_character);
}

}  // namespace

std::string store_folder_from_text(const std::string& text) {
    std::string_view rest = text;
    if (rest.ends_with('/'))
        rest.remove_suffix(1);
    bool valid = !rest.empty();
    for (std::size_t start = 0; valid && start <= rest.size();) {
        const std::size_t end = std::min(rest.find('/', start), rest.size());
        valid = is_store_segment(rest.substr(start, end - start));
        start = end + 1;
    }
    if (!valid)
        throw TError(format("\"%s\" nie jest folderem wewnątrz repozytorium", {text}));
    return text.ends_with('/') ? text : text + "/";
}

}  // namespace qiv_start::core
