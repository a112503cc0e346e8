#include "qiv_repo/access_log.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>

#include "core/support/error.h"

namespace qiv_start::repo {
namespace {

constexpr std::size_t kBlockSize = std::size_t{4} << 20;
// A line longer than this is no log line of a report; it is cut there and then refused.
constexpr std::size_t kMaxLineLength = std::size_t{64} << 10;

std::optional<int> digits(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || error != std::errc{} ||
        end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int> month_number(std::string_view name) {
    constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (kMonths[static_cast<std::size_t>(i)] == name)
            return i + 1;
    }
    return std::nullopt;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The text up to the closing quote, which a backslash does not escape; advances past it.
std::optional<std::string_view> quoted(std::string_view& rest) {
    if (rest.empty() || rest.front() != '"')
        return std::nullopt;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == '\\') {
            ++i;
        } else if (rest[i] == '"') {
            const auto text = rest.substr(1, i - 1);
            rest.remove_prefix(i + 1);
            return text;
        }
    }
    return std::nullopt;
}

std::string_view next_word(std::string_view& rest) {
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    const auto end = rest.find(' ');
    const auto word = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return word;
}

bool take_request(std::string_view request, TLogLine& line) {
    line.method = next_word(request);
    const auto target = next_word(request);
    if (line.method.empty() || target.empty() || !next_word(request).starts_with("HTTP/"))
        return false;
    const auto question = target.find('?');
    line.path = target.substr(0, question);
    if (question != std::string_view::npos)
        line.query = target.substr(question + 1);
    return true;
}

struct TGzipCloser {
    void operator()(gzFile file) const { gzclose(file); }
};
using TGzipFile = std::unique_ptr<gzFile_s, TGzipCloser>;

TGzipFile open_log(const std::string& path) {
    gzFile file = path == "-" ? gzdopen(fileno(stdin), "rb") : gzopen(path.c_str(), "rb");
    if (file == nullptr)
        throw core::TError("nie można otworzyć dziennika " + path);
    gzbuffer(file, static_cast<unsigned>(kBlockSize));
    return TGzipFile(file);
}

}  // namespace

std::optional<std::int64_t> parse_log_time(std::string_view text) {
    // dd/Mon/yyyy:HH:MM:SS +zzzz
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' ||
        text[14] != ':' || text[17] != ':' || text[20] != ' ' ||
        (text[21] != '+' && text[21] != '-'))
        return std::nullopt;
    const auto day = digits(text.substr(0, 2));
    const auto month = month_number(text.substr(3, 3));
    const auto year = digits(text.substr(7, 4));
    const auto hour = digits(text.substr(12, 2));
    const auto minute = digits(text.substr(15, 2));
    const auto second = digits(text.substr(18, 2));
    const auto zone_hours = digits(text.substr(22, 2));
    const auto zone_minutes = digits(text.substr(24, 2));
    if (!day || !month || !year || !hour || !minute || !second || !zone_hours || !zone_minutes ||
        *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60 || *zone_minutes > 59)
        return std::nullopt;
    const std::int64_t offset = (*zone_hours * 60 + *zone_minutes) * 60;
    return days_from_civil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second -
           (text[21] == '+' ? offset : -offset);
}

std::optional<TLogLine> parse_log_line(std::string_view line) {
    // host ident user [time] "request" status bytes "referer" "user agent"
    const auto open = line.find(" [");
    const auto close = open == std::string_view::npos ? open : line.find("] \"", open);
    if (close == std::string_view::npos)
        return std::nullopt;
    TLogLine parsed;
    const auto time = parse_log_time(line.substr(open + 2, close - open - 2));
    std::string_view rest = line.substr(close + 2);
    const auto request = quoted(rest);
    if (!time || !request || !take_request(*request, parsed))
        return std::nullopt;
    parsed.time = *time;
    const auto status = digits(next_word(rest));
    const auto bytes = next_word(rest);
    if (!status || bytes.empty() || rest.empty() || rest.front() != ' ')
        return std::nullopt;
    rest.remove_prefix(1);
    if (!quoted(rest) || rest.empty() || rest.front() != ' ')
        return std::nullopt;
    rest.remove_prefix(1);
    if (!quoted(rest))
        return std::nullopt;
    parsed.status = *status;
    return parsed;
}

void read_log_lines(const std::string& path, const std::function<void(std::string_view)>& on_line,
                    const std::function<void(std::int64_t)>& on_progress) {
    const TGzipFile file = open_log(path);
    std::string block(kBlockSize, '\0');
    std::size_t kept = 0;   // the start of a line that the previous block cut
    bool skipping = false;  // within the rest of a line cut at the longest length
    for (;;) {
        const int read =
            gzread(file.get(), block.data() + kept, static_cast<unsigned>(block.size() - kept));
        if (read < 0) {
            int code = 0;
            throw core::TError("dziennik " + path +
                               " jest uszkodzony: " + gzerror(file.get(), &code));
        }
        const std::string_view data(block.data(), kept + static_cast<std::size_t>(read));
        std::size_t start = 0;
        if (skipping) {
            const auto newline = data.find('\n');
            skipping = newline == std::string_view::npos;
            start = skipping ? data.size() : newline + 1;
        }
        for (auto end = data.find('\n', start); end != std::string_view::npos;
             end = data.find('\n', start)) {
            auto text = data.substr(start, end - start);
            if (!text.empty() && text.back() == '\r')
                text.remove_suffix(1);
            on_line(text);
            start = end + 1;
        }
        if (read == 0) {
            if (start < data.size() && !skipping)
                on_line(data.substr(start));
            return;
        }
        kept = data.size() - start;
        if (kept > kMaxLineLength) {
            on_line(data.substr(start, kMaxLineLength));
            kept = 0;
            skipping = true;
        } else {
            std::copy(block.data() + start, block.data() + data.size(), block.data());
        }
        on_progress(gzoffset(file.get()));
    }
}

}  // namespace qiv_start::repo
