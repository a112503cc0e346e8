#include "core/config/release.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "core/support/error.h"
#include "core/support/md5.h"
#include "core/support/repository_names.h"

namespace qiv_start::core {
namespace {

namespace chrono = std::chrono;

const char* const kFormatLine = "qiv_start_2 release 1";
const char* const kSignatureKey = "signature";
// What is signed starts with this, so that no signature made for another purpose (a file's own,
// say) verifies as a release.
constexpr std::string_view kContext("qiv_start_2 release signature\0", 30);
constexpr std::size_t kSignatureSize = 64;
constexpr std::size_t kSha256Digits = 64;

// The record's lines; a record ends with a line end, and no line is empty.
std::optional<std::vector<std::string_view>> lines_of(std::string_view text) {
    if (!text.ends_with('\n'))
        return std::nullopt;
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == start)
            return std::nullopt;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The value after "key ", or nothing when the line is not about that key.
std::optional<std::string_view> value_of(std::string_view line, std::string_view key) {
    if (line.size() <= key.size() || !line.starts_with(key) || line[key.size()] != ' ')
        return std::nullopt;
    return line.substr(key.size() + 1);
}

// Decimal digits without a leading zero (but "0"), within 64 bits.
std::optional<std::uint64_t> parse_number(std::string_view text) {
    if (text.empty() || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool is_lower_hex(std::string_view text) {
    return text.size() == kSha256Digits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// "servers.cfg SIZE SHA256"
std::optional<TReleaseFile> parse_file_line(std::string_view line, std::string_view name) {
    const auto value = value_of(line, name);
    if (!value)
        return std::nullopt;
    const std::size_t blank = value->find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const auto size = parse_number(value->substr(0, blank));
    const std::string_view digest = value->substr(blank + 1);
    if (!size || !is_lower_hex(digest))
        return std::nullopt;
    return TReleaseFile{*size, std::string(digest)};
}

std::string file_line(const char* name, const TReleaseFile& file) {
    return std::string(name) + " " + std::to_string(file.size) + " " + file.sha256 + "\n";
}

std::string body_of(const TRelease& release) {
    std::string body =
        std::string(kFormatLine) + "\nserial " + std::to_string(release.serial) + "\n";
    if (release.expires)
        body += "expires " + format_utc(*release.expires) + "\n";
    return body + file_line(kServerListName, release.servers) +
           file_line(kDocumentName, release.document);
}

// A record split into what it states, the signed part of its text and its signatures.
struct TParsedRecord {
    TRelease release;
    std::string_view body;
    std::vector<std::string> signatures;  // each 64 raw bytes
};

std::optional<TRelease> parse_body(const std::vector<std::string_view>& lines, std::size_t& next) {
    TRelease release;
    if (lines.size() < 4 || lines[0] != kFormatLine)
        return std::nullopt;
    const auto serial = value_of(lines[1], "serial");
    const auto number = serial ? parse_number(*serial) : std::nullopt;
    if (!number || *number == 0)
        return std::nullopt;
    release.serial = *number;
    next = 2;
    if (const auto expires = value_of(lines[next], "expires")) {
        release.expires = parse_utc(*expires);
        if (!release.expires)
            return std::nullopt;
        ++next;
    }
    if (next + 2 > lines.size())
        return std::nullopt;
    const auto servers = parse_file_line(lines[next++], kServerListName);
    const auto document = parse_file_line(lines[next++], kDocumentName);
    if (!servers || !document)
        return std::nullopt;
    release.servers = *servers;
    release.document = *document;
    return release;
}

std::optional<TParsedRecord> parse_record(std::string_view text) {
    const auto lines = lines_of(text);
    std::size_t next = 0;
    const auto release = lines ? parse_body(*lines, next) : std::nullopt;
    if (!release)
        return std::nullopt;
    // A record without signatures states a release that no trusted key vouches for.
    const std::size_t body_end =
        next == lines->size() ? text.size()
                              : static_cast<std::size_t>(lines->at(next).data() - text.data());
    TParsedRecord record{*release, text.substr(0, body_end), {}};
    for (; next < lines->size(); ++next) {
        const auto value = value_of((*lines)[next], kSignatureKey);
        auto signature = value ? decode_base64(*value) : std::nullopt;
        if (!signature || signature->size() != kSignatureSize)
            return std::nullopt;
        record.signatures.push_back(encode_base64(*signature));
    }
    return record;
}

std::string signed_message(std::string_view body) {
    std::string message(kContext);
    return message.append(body);
}

std::string two_digits(unsigned value) {
    return std::string(1, static_cast<char>('0' + value / 10)) +
           static_cast<char>('0' + value % 10);
}

chrono::sys_seconds time_of(std::int64_t seconds) {
    return chrono::sys_seconds(chrono::seconds(seconds));
}

}  // namespace

TReleaseFile describe(std::string_view bytes) {
    TFileDigests digests(true);
    digests.update(bytes.data(), bytes.size());
    std::string sha256 = digests.finish().sha256;
    std::transform(sha256.begin(), sha256.end(), sha256.begin(), [](char c) {
        return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return {bytes.size(), std::move(sha256)};
}

std::string sign_release(const TRelease& release, const std::vector<const TSigningKey*>& keys) {
    if (release.serial == 0)
        throw TError("A release's serial number is at least 1");
    std::string text = body_of(release);
    const std::string message = signed_message(text);
    for (const TSigningKey* key : keys)
        text += std::string(kSignatureKey) + " " + key->sign(message) + "\n";
    return text;
}

std::optional<TRelease> parse_release(std::string_view text) {
    auto record = parse_record(text);
    if (!record)
        return std::nullopt;
    return record->release;
}

std::optional<TRelease> verify_release(std::string_view text, const TTrustedKeys& keys) {
    const auto record = parse_record(text);
    if (!record)
        return std::nullopt;
    const std::string message = signed_message(record->body);
    for (const std::string& signature : record->signatures) {
        if (is_signed_by(message, signature, keys))
            return record->release;
    }
    return std::nullopt;
}

std::optional<std::int64_t> parse_utc(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto field = [&](std::size_t at, std::size_t length) -> std::optional<unsigned> {
        unsigned value = 0;
        const char* first = text.data() + at;
        const auto [end, failure] = std::from_chars(first, first + length, value);
        if (failure != std::errc() || end != first + length)
            return std::nullopt;
        return value;
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const auto hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 59)
        return std::nullopt;
    const chrono::year_month_day date{chrono::year(static_cast<int>(*year)), chrono::month(*month),
                                      chrono::day(*day)};
    if (!date.ok())
        return std::nullopt;
    const auto time = chrono::sys_days(date) + chrono::hours(*hour) + chrono::minutes(*minute) +
                      chrono::seconds(*second);
    return time.time_since_epoch().count();
}

std::string format_utc(std::int64_t seconds) {
    const auto time = time_of(seconds);
    const auto days = chrono::floor<chrono::days>(time);
    const chrono::year_month_day date(days);
    const chrono::hh_mm_ss clock(time - days);
    const std::string year = std::to_string(static_cast<int>(date.year()));
    return std::string(year.size() < 4 ? 4 - year.size() : 0, '0') + year + "-" +
           two_digits(static_cast<unsigned>(date.month())) + "-" +
           two_digits(static_cast<unsigned>(date.day())) + "T" +
           two_digits(static_cast<unsigned>(clock.hours().count())) + ":" +
           two_digits(static_cast<unsigned>(clock.minutes().count())) + ":" +
           two_digits(static_cast<unsigned>(clock.seconds().count())) + "Z";
}

std::string utc_text(std::int64_t seconds) {
    std::string text = format_utc(seconds);
    text[10] = ' ';
    return text.substr(0, 16) + " UTC";
}

}  // namespace qiv_start::core
