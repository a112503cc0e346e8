#include "core/support/run_report.h"

#include <array>
#include <charconv>
#include <type_traits>
#include <utility>

#include "core/support/ascii.h"

namespace qiv_start::core {
namespace {

constexpr std::array<std::pair<TRunOutcome, std::string_view>, 8> kOutcomeNames{{
    {TRunOutcome::started, "started"},
    {TRunOutcome::no_configuration, "no_configuration"},
    {TRunOutcome::access_refused, "access_refused"},
    {TRunOutcome::file_missing, "file_missing"},
    {TRunOutcome::start_failed, "start_failed"},
    {TRunOutcome::outdated, "outdated"},
    {TRunOutcome::handed_over, "handed_over"},
    {TRunOutcome::other, "other"},
}};

constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";

bool is_unreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

void append_encoded(std::string& out, std::string_view text) {
    for (const char c : text.substr(0, kMaxReportText)) {
        if (is_unreserved(c)) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kUpperHexDigits[byte >> 4];
            out += kUpperHexDigits[byte & 15];
        }
    }
}

// The field's value: the text itself when it holds no escape, else decoded into buffer.
std::optional<std::string_view> decoded(std::string_view text, std::string& buffer) {
    if (text.find('%') == std::string_view::npos) {
        if (text.size() > kMaxReportText)
            return std::nullopt;
        return text;
    }
    buffer.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            buffer += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hex_value(text[i + 1]);
        const int low = hex_value(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        buffer += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (buffer.size() > kMaxReportText)
        return std::nullopt;
    return std::string_view(buffer);
}

template <typename T>
std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || error != std::errc{} ||
        end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool is_lower_hex(std::string_view text, std::size_t length) {
    return text.size() == length && text.find_first_not_of(kHexDigits) == std::string_view::npos;
}

constexpr std::array<std::string_view, 16> kKeys{"seq",  "id",  "host",  "md5", "serial", "ch",
                                                 "term", "out", "chk",   "dl",  "fail",   "bytes",
                                                 "ms",   "srv", "cache", "t"};

std::optional<unsigned> key_index(std::string_view key) {
    for (unsigned i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i] == key)
            return i;
    }
    return std::nullopt;
}

void add(std::string& query, std::string_view key, std::string_view value) {
    if (value.empty())
        return;
    if (!query.empty())
        query += '&';
    query.append(key).append("=");
    append_encoded(query, value);
}

// Sets the field of kKeys[key] from its text; false for a malformed value.
bool take(TRunReport& report, unsigned key, std::string_view value) {
    const auto into = [&value](auto& field) {
        using T = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::string>) {
            field.assign(value);
            return true;
        } else {
            using N = std::conditional_t<std::is_same_v<T, std::optional<std::uint64_t>>,
                                         std::uint64_t, T>;
            const auto parsed = number<N>(value);
            if (parsed)
                field = *parsed;
            return parsed.has_value();
        }
    };
    switch (key) {
        case 0:
            return into(report.sequence);
        case 1:
            return is_lower_hex(value, 32) && into(report.workstation);
        case 2:
            return into(report.host);
        case 3:
            return is_lower_hex(value, 32) && into(report.launcher);
        case 4:
            return into(report.serial);
        case 5:
            return into(report.channel);
        case 6:
            return into(report.terminal);
        case 7: {
            const auto outcome = parse_outcome(value);
            if (outcome)
                report.outcome = *outcome;
            return outcome.has_value();
        }
        case 8:
            return into(report.checked);
        case 9:
            return into(report.downloaded);
        case 10:
            return into(report.failed);
        case 11:
            return into(report.bytes);
        case 12:
            return into(report.duration_ms);
        case 13:
            return into(report.server);
        case 14:
            report.cache_used = value == "1";
            return value == "0" || value == "1";
        default:
            return into(report.time);
    }
}

}  // namespace

std::string_view outcome_name(TRunOutcome outcome) {
    for (const auto& [each, name] : kOutcomeNames) {
        if (each == outcome)
            return name;
    }
    return "other";
}

std::optional<TRunOutcome> parse_outcome(std::string_view name) {
    for (const auto& [outcome, each] : kOutcomeNames) {
        if (each == name)
            return outcome;
    }
    return std::nullopt;
}

std::string report_query(const TRunReport& report) {
    std::string query;
    add(query, "v", std::to_string(kReportFormat));
    add(query, "seq", std::to_string(report.sequence));
    add(query, "id", report.workstation);
    add(query, "host", report.host);
    add(query, "md5", report.launcher);
    if (report.serial)
        add(query, "serial", std::to_string(*report.serial));
    add(query, "ch", report.channel);
    add(query, "term", report.terminal);
    add(query, "out", outcome_name(report.outcome));
    add(query, "chk", std::to_string(report.checked));
    add(query, "dl", std::to_string(report.downloaded));
    add(query, "fail", std::to_string(report.failed));
    add(query, "bytes", std::to_string(report.bytes));
    add(query, "ms", std::to_string(report.duration_ms));
    if (report.server)
        add(query, "srv", std::to_string(*report.server));
    add(query, "cache", report.cache_used ? "1" : "0");
    add(query, "t", std::to_string(report.time));
    return query;
}

std::optional<TRunReport> parse_report_query(std::string_view query) {
    constexpr std::string_view kVersion = "v=1&";
    static_assert(kReportFormat == 1, "the version prefix names the format");
    if (query.size() > kMaxReportQuery || !query.starts_with(kVersion))
        return std::nullopt;
    query.remove_prefix(kVersion.size());
    TRunReport report;
    std::uint32_t seen = 0;  // the keys taken, so that a repeated one is refused
    std::string buffer;      // a decoded value with escapes
    while (!query.empty()) {
        const auto end = query.find('&');
        const auto field = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
        const auto equals = field.find('=');
        if (equals == std::string_view::npos || equals == 0)
            return std::nullopt;
        const auto index = key_index(field.substr(0, equals));
        const auto value = decoded(field.substr(equals + 1), buffer);
        const std::uint32_t bit = index ? std::uint32_t{1} << *index : 0;
        if (!value || !index || (seen & bit) != 0 || !take(report, *index, *value))
            return std::nullopt;
        seen |= bit;
    }
    for (const std::string_view required : {"seq", "id", "md5", "out", "t"}) {
        if ((seen & (std::uint32_t{1} << *key_index(required))) == 0)
            return std::nullopt;
    }
    return report;
}

}  // namespace qiv_start::core
