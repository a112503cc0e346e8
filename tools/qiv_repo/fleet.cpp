#include "qiv_repo/fleet.h"

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

#include "core/support/ascii.h"

namespace qiv_start::repo {
namespace {

using core::TRunOutcome;
using core::TRunReport;

constexpr std::size_t kWorstHosts = 3;

std::size_t index_of(TRunOutcome outcome) {
    return static_cast<std::size_t>(outcome);
}

TRunOutcome outcome_at(std::size_t index) {
    return static_cast<TRunOutcome>(index);
}

bool is_failure(TRunOutcome outcome) {
    return outcome != TRunOutcome::started && outcome != TRunOutcome::handed_over;
}

struct TCivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

TCivilDate civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const auto day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const auto month =
        static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    return {year_of_era + era * 400 + (month <= 2), month, day};
}

std::string two_digits(std::int64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

// "2026-12-10 08:15", as the tables show times.
std::string short_time(std::int64_t seconds) {
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t rest = seconds - days * 86400;
    const TCivilDate date = civil_from_days(days);
    return std::to_string(date.year) + "-" + two_digits(date.month) + "-" + two_digits(date.day) +
           " " + two_digits(rest / 3600) + ":" + two_digits(rest / 60 % 60);
}

// What a report says, fit for a terminal: control characters, which a forged field could use to
// rewrite the screen, become '?'.
std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return out;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string station_name(const TStation& station) {
    return station.host.empty() ? "(" + station.id.substr(0, 8) + ")" : printable(station.host);
}

std::string serial_text(const std::optional<std::uint64_t>& serial) {
    return serial ? std::to_string(*serial) : "-";
}

std::string release_text(const TStation& station) {
    return serial_text(station.serial) +
           (station.channel.empty() ? "" : " " + printable(station.channel));
}

// The length of the UTF-8 sequence at the start of text, 0 when it is not a valid one.
std::size_t utf8_length(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xf0 && lead < 0xf5 ? 4
                               : lead >= 0xe0                ? 3
                               : lead >= 0xc2 && lead < 0xe0 ? 2
                                                             : 0;
    if (length == 0 || length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80)
            return 0;
    }
    return length;
}

// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string json(std::string_view text) {
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string out = "\"";
    while (!text.empty()) {
        const std::size_t length = utf8_length(text);
        const auto c = static_cast<unsigned char>(text[0]);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(std::max<std::size_t>(length, 1));
    }
    return out + "\"";
}

std::string json_serial(const std::optional<std::uint64_t>& serial) {
    return serial ? std::to_string(*serial) : "null";
}

// Counts under names, largest first, then by name.
using TCounts = std::vector<std::pair<std::string, std::uint64_t>>;

TCounts sorted_counts(const std::map<std::string, std::uint64_t>& counts) {
    TCounts sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return sorted;
}

TCounts count_stations(const std::vector<const TStation*>& stations,
                       const std::function<std::string(const TStation&)>& key) {
    std::map<std::string, std::uint64_t> counts;
    for (const TStation* station : stations)
        ++counts[key(*station)];
    return sorted_counts(counts);
}

void write_counts_text(std::ostream& out, const std::string& heading, const TCounts& counts) {
    if (counts.empty())
        return;
    out << "\n" << heading << "\n";
    for (const auto& [name, count] : counts)
        out << "  " << padded(printable(name), 34) << " " << count << "\n";
}

void write_counts_json(std::ostream& out, const std::string& name, const TCounts& counts) {
    out << ",\n  " << json(name) << ": {";
    const char* separator = "";
    for (const auto& [key, count] : counts) {
        out << separator << json(key) << ": " << count;
        separator = ", ";
    }
    out << "}";
}

// The workstations with the most runs of that outcome in the period, most first.
std::vector<const TStation*> worst(const std::vector<const TStation*>& stations,
                                   std::size_t outcome) {
    std::vector<const TStation*> failing;
    for (const TStation* station : stations) {
        if (station->runs[outcome] > 0)
            failing.push_back(station);
    }
    std::stable_sort(failing.begin(), failing.end(), [outcome](const auto* a, const auto* b) {
        return a->runs[outcome] > b->runs[outcome];
    });
    failing.resize(std::min(failing.size(), kWorstHosts));
    return failing;
}

std::uint64_t total_runs(const TStation& station) {
    std::uint64_t total = 0;
    for (const std::uint64_t runs : station.runs)
        total += runs;
    return total;
}

void write_host_json(std::ostream& out, const TStation& station) {
    out << "{\"name\": " << json(station.host) << ", \"id\": " << json(station.id)
        << ", \"last_seen\": " << json(iso_time(station.last_seen))
        << ", \"last_outcome\": " << json(core::outcome_name(station.outcome))
        << ", \"serial\": " << json_serial(station.serial)
        << ", \"channel\": " << json(station.channel)
        << ", \"terminal\": " << json(station.terminal)
        << ", \"launcher\": " << json(station.launcher) << ", \"runs\": " << total_runs(station)
        << "}";
}

void write_hosts_json(std::ostream& out, const std::string& name,
                      const std::vector<const TStation*>& stations) {
    out << ",\n  " << json(name) << ": [";
    const char* separator = "\n    ";
    for (const TStation* station : stations) {
        out << separator;
        write_host_json(out, *station);
        separator = ",\n    ";
    }
    out << (stations.empty() ? "]" : "\n  ]");
}

// The workstation as the report leaves it; its counts of runs stay.
void take_last(TStation& station, TRunReport& report) {
    station.id.swap(report.workstation);
    station.host.swap(report.host);
    station.launcher.swap(report.launcher);
    station.serial = report.serial;
    station.channel.swap(report.channel);
    station.terminal.swap(report.terminal);
    station.outcome = report.outcome;
    station.last_seen = report.time;
    station.last_sequence = report.sequence;
}

// The runs in the order they were made.
std::vector<const TStationRun*> sorted_runs(const std::vector<TStationRun>& runs) {
    std::vector<const TStationRun*> sorted;
    for (const TStationRun& run : runs)
        sorted.push_back(&run);
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return std::pair(a->report.time, a->report.sequence) <
               std::pair(b->report.time, b->report.sequence);
    });
    return sorted;
}

}  // namespace

std::string iso_time(std::int64_t seconds) {
    std::string text = short_time(seconds);
    text[10] = 'T';
    return text + ":" + two_digits(((seconds % 60) + 60) % 60) + "Z";
}

TFleet::TFleet(TFleetOptions options, std::vector<std::string> sources)
    : options_(std::move(options)), sources_(std::move(sources)), source_runs_(sources_.size()) {}

std::size_t TFleet::TKeyHash::operator()(const TDigest& key) const {
    return static_cast<std::size_t>(key.high ^ (key.low * 0x9e3779b97f4a7c15ULL));
}

std::size_t TFleet::TKeyHash::operator()(const TRunKey& key) const {
    return (*this)(key.workstation) ^
           static_cast<std::size_t>(key.sequence * 0xc2b2ae3d27d4eb4fULL);
}

// The text has been checked for 32 lower-case hexadecimal digits.
TFleet::TDigest TFleet::digest_of(std::string_view hex) {
    TDigest digest;
    for (std::size_t i = 0; i < hex.size() && i < 32; ++i) {
        const char c = hex[i];
        const std::uint64_t value = c <= '9' ? static_cast<std::uint64_t>(c - '0')
                                             : static_cast<std::uint64_t>(c - 'a' + 10);
        std::uint64_t& half = i < 16 ? digest.high : digest.low;
        half = half << 4 | (value & 15);
    }
    return digest;
}

void TFleet::add(TRunReport report, std::int64_t line_time, std::size_t source) {
    // The server's clock, not the report, says when at the latest the run was.
    report.time = std::min(report.time, line_time);
    const TDigest workstation = digest_of(report.workstation);
    if (!counted_.insert({workstation, report.sequence}).second)
        return;
    auto [first_seen, fresh] =
        launcher_first_seen_.try_emplace(digest_of(report.launcher), report.time);
    if (!fresh)
        first_seen->second = std::min(first_seen->second, report.time);
    TStation& station = stations_[workstation];
    if (report.time >= options_.since) {
        ++station.runs[index_of(report.outcome)];
        count_run(report, source);
    }
    if (station.id.empty() || std::pair(report.time, report.sequence) >
                                  std::pair(station.last_seen, station.last_sequence))
        take_last(station, report);
}

void TFleet::count_run(const TRunReport& report, std::size_t source) {
    ++runs_;
    ++outcomes_[index_of(report.outcome)];
    ++source_runs_[source];
    if (report.server)
        ++server_runs_[*report.server];
    cache_runs_ += report.cache_used ? 1 : 0;
    if (!options_.workstation.empty() &&
        (report.workstation == options_.workstation ||
         core::equals_ignoring_ascii_case(report.host, options_.workstation)))
        station_runs_.push_back({report, source});
}

std::vector<const TStation*> TFleet::stations_in_period() const {
    std::vector<const TStation*> seen;
    for (const auto& [id, station] : stations_) {
        if (station.last_seen >= options_.since)
            seen.push_back(&station);
    }
    std::sort(seen.begin(), seen.end(), [](const TStation* a, const TStation* b) {
        return std::tie(a->host, a->id) < std::tie(b->host, b->id);
    });
    return seen;
}

std::optional<std::uint64_t> TFleet::newest_serial(const std::vector<const TStation*>& seen) const {
    if (options_.current_serial)
        return options_.current_serial;
    std::optional<std::uint64_t> newest;
    for (const TStation* station : seen) {
        if (station->serial && (!newest || *station->serial > *newest))
            newest = station->serial;
    }
    return newest;
}

// Without the repository's digest, the current launcher is the one that appeared last among the
// workstations on the newest release.
std::string TFleet::newest_launcher(const std::vector<const TStation*>& seen) const {
    if (!options_.current_launcher.empty())
        return options_.current_launcher;
    const auto serial = newest_serial(seen);
    std::string newest;
    std::int64_t newest_time = 0;
    for (const TStation* station : seen) {
        if (serial && station->serial != serial)
            continue;
        const std::int64_t first = launcher_first_seen_.at(digest_of(station->launcher));
        if (newest.empty() ||
            std::pair(first, station->launcher) > std::pair(newest_time, newest)) {
            newest = station->launcher;
            newest_time = first;
        }
    }
    return newest;
}

std::vector<const TStation*> TFleet::outdated(const std::vector<const TStation*>& seen) const {
    const auto serial = newest_serial(seen);
    const std::string launcher = newest_launcher(seen);
    std::vector<const TStation*> old;
    for (const TStation* station : seen) {
        if ((serial && (!station->serial || *station->serial < *serial)) ||
            station->launcher != launcher)
            old.push_back(station);
    }
    return old;
}

std::vector<const TStation*> TFleet::stale() const {
    std::vector<const TStation*> gone;
    if (!options_.stale_days)
        return gone;
    const std::int64_t limit = options_.now - *options_.stale_days * 86400;
    for (const auto& [id, station] : stations_) {
        if (station.last_seen < limit)
            gone.push_back(&station);
    }
    std::sort(gone.begin(), gone.end(), [](const TStation* a, const TStation* b) {
        return std::tie(a->last_seen, a->id) < std::tie(b->last_seen, b->id);
    });
    return gone;
}

void TFleet::write_text(std::ostream& out) const {
    if (!options_.workstation.empty())
        return write_runs_text(out);
    const auto seen = stations_in_period();
    out << "Okres: od " << short_time(options_.since) << " UTC\n"
        << "Stanowiska: " << seen.size() << ", uruchomienia: " << runs_
        << ", pominięte wiersze: " << skipped_ << "\n";
    TCounts outcomes;
    for (std::size_t i = 0; i < kOutcomeCount; ++i) {
        if (outcomes_[i] > 0)
            outcomes.emplace_back(core::outcome_name(outcome_at(i)), outcomes_[i]);
    }
    write_counts_text(out, "Wyniki uruchomień:", outcomes);
    write_counts_text(out, "Programy (MD5, stanowiska):",
                      count_stations(seen, [](const TStation& s) { return s.launcher; }));
    write_counts_text(out,
                      "Wydania (numer i kanał, stanowiska):", count_stations(seen, release_text));
    write_counts_text(out, "Terminale (stanowiska):", count_stations(seen, [](const TStation& s) {
                          return s.terminal.empty() ? std::string("-") : s.terminal;
                      }));
    bool heading = false;
    for (std::size_t i = 0; i < kOutcomeCount; ++i) {
        if (outcomes_[i] == 0 || !is_failure(outcome_at(i)))
            continue;
        out << (heading ? "" : "\nNieudane uruchomienia (najczęściej):\n") << "  "
            << padded(std::string(core::outcome_name(outcome_at(i))), 18) << " " << outcomes_[i]
            << ":";
        heading = true;
        for (const TStation* station : worst(seen, i))
            out << " " << station_name(*station) << " (" << station->runs[i] << ")";
        out << "\n";
    }
    const auto old = outdated(seen);
    if (!old.empty()) {
        out << "\nNieaktualne stanowiska (bieżące: wydanie " << serial_text(newest_serial(seen))
            << ", program " << newest_launcher(seen) << "):\n";
        for (const TStation* station : old)
            out << "  " << padded(station_name(*station), 20) << " wydanie "
                << release_text(*station) << ", program " << station->launcher << "\n";
    }
    if (options_.stale_days) {
        const auto gone = stale();
        out << "\nNiewidziane od " << *options_.stale_days << " dni: " << gone.size() << "\n";
        for (const TStation* station : gone)
            out << "  " << padded(station_name(*station), 20) << " ostatnio "
                << short_time(station->last_seen) << "\n";
    }
    TCounts logs;
    for (std::size_t i = 0; i < sources_.size(); ++i)
        logs.emplace_back(sources_[i], source_runs_[i]);
    write_counts_text(out, "Dzienniki (uruchomienia):", logs);
    std::map<std::string, std::uint64_t> servers;
    for (const auto& [server, runs] : server_runs_)
        servers["serwer " + std::to_string(server) + " listy"] = runs;
    write_counts_text(
        out, "Serwery, z których pobrano najwięcej plików (uruchomienia):", sorted_counts(servers));
    out << "\nKonfiguracja z pamięci podręcznej: " << cache_runs_ << " z " << runs_
        << " uruchomień\n\n"
        << padded("STANOWISKO", 20) << " " << padded("OSTATNIO (UTC)", 16) << " "
        << padded("WYNIK", 16) << " " << padded("WYDANIE", 12) << " PROGRAM\n";
    for (const TStation* station : seen)
        out << padded(station_name(*station), 20) << " " << short_time(station->last_seen) << " "
            << padded(std::string(core::outcome_name(station->outcome)), 16) << " "
            << padded(release_text(*station), 12) << " " << station->launcher << "\n";
}

void TFleet::write_json(std::ostream& out) const {
    if (!options_.workstation.empty())
        return write_runs_json(out);
    const auto seen = stations_in_period();
    out << "{\n  \"since\": " << json(iso_time(options_.since))
        << ",\n  \"workstations\": " << seen.size() << ",\n  \"runs\": " << runs_
        << ",\n  \"skipped_lines\": " << skipped_ << ",\n  \"cache_runs\": " << cache_runs_;
    TCounts outcomes;
    for (std::size_t i = 0; i < kOutcomeCount; ++i)
        outcomes.emplace_back(core::outcome_name(outcome_at(i)), outcomes_[i]);
    write_counts_json(out, "outcomes", outcomes);
    write_counts_json(out, "launchers",
                      count_stations(seen, [](const TStation& s) { return s.launcher; }));
    write_counts_json(out, "serials", count_stations(seen, [](const TStation& s) {
                          return serial_text(s.serial);
                      }));
    write_counts_json(out, "terminals",
                      count_stations(seen, [](const TStation& s) { return s.terminal; }));
    TCounts logs;
    for (std::size_t i = 0; i < sources_.size(); ++i)
        logs.emplace_back(sources_[i], source_runs_[i]);
    write_counts_json(out, "logs", logs);
    std::map<std::string, std::uint64_t> servers;
    for (const auto& [server, runs] : server_runs_)
        servers[std::to_string(server)] = runs;
    write_counts_json(out, "servers", sorted_counts(servers));
    write_hosts_json(out, "hosts", seen);
    write_hosts_json(out, "outdated", outdated(seen));
    write_hosts_json(out, "stale", stale());
    out << "\n}\n";
}

void TFleet::write_runs_text(std::ostream& out) const {
    out << "Uruchomienia stanowiska " << printable(options_.workstation) << ": "
        << station_runs_.size() << "\n";
    for (const TStationRun* run : sorted_runs(station_runs_)) {
        const TRunReport& r = run->report;
        out << "  " << short_time(r.time) << " #" << r.sequence << " "
            << padded(std::string(core::outcome_name(r.outcome)), 16) << " wydanie "
            << serial_text(r.serial) << (r.channel.empty() ? "" : " " + printable(r.channel))
            << ", terminal " << (r.terminal.empty() ? "-" : printable(r.terminal))
            << ", pliki: " << r.checked << " sprawdzone, " << r.downloaded << " pobrane, "
            << r.failed << " brak, " << r.bytes << " B, " << r.duration_ms << " ms"
            << (r.cache_used ? ", z pamięci podręcznej" : "") << " (" << sources_[run->source]
            << ")\n";
    }
}

void TFleet::write_runs_json(std::ostream& out) const {
    out << "{\n  \"workstation\": " << json(options_.workstation) << ",\n  \"runs\": [";
    const char* separator = "\n    ";
    for (const TStationRun* run : sorted_runs(station_runs_)) {
        const TRunReport& r = run->report;
        out << separator << "{\"time\": " << json(iso_time(r.time))
            << ", \"sequence\": " << r.sequence << ", \"id\": " << json(r.workstation)
            << ", \"name\": " << json(r.host)
            << ", \"outcome\": " << json(core::outcome_name(r.outcome))
            << ", \"serial\": " << json_serial(r.serial) << ", \"channel\": " << json(r.channel)
            << ", \"terminal\": " << json(r.terminal) << ", \"launcher\": " << json(r.launcher)
            << ", \"checked\": " << r.checked << ", \"downloaded\": " << r.downloaded
            << ", \"failed\": " << r.failed << ", \"bytes\": " << r.bytes
            << ", \"ms\": " << r.duration_ms << ", \"cache\": " << (r.cache_used ? "true" : "false")
            << ", \"log\": " << json(sources_[run->source]) << "}";
        separator = ",\n    ";
    }
    out << (station_runs_.empty() ? "]" : "\n  ]") << "\n}\n";
}

}  // namespace qiv_start::repo
