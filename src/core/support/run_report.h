// One run's outcome as the launcher reports it: the query of one small GET that lands in the
// access log of a server the administrator already runs, where the administrator's tool reads it
// back. One form for both sides, so that they always agree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qiv_start::core {

inline constexpr unsigned kReportFormat = 1;

// How a run ended: the terminal started, or the kind of the first error that kept it from starting.
enum class TRunOutcome {
    started,
    no_configuration,  // neither the repository nor the cache gave a document
    access_refused,    // the workstation's network may not run the terminal
    file_missing,      // a file was not brought in
    start_failed,      // the terminal's executable did not start
    outdated,          // the launcher is outdated and did not go on
    handed_over,       // the launcher handed over to its update or to the user's own copy
    other,
};

struct TRunReport {
    std::uint64_t sequence = 0;  // raised by every report of the workstation: each run counts once
    std::string workstation;     // the workstation's random identifier, lower-case hexadecimal
    std::string host;            // the host name; empty when the document leaves it out
    std::string launcher;        // the launcher's MD5, lower-case hexadecimal
    std::optional<std::uint64_t> serial;  // the release serial, when the run took a release
    std::string channel;                  // empty: the stable document
    std::string terminal;                 // the terminal's code; empty when none was chosen
    TRunOutcome outcome = TRunOutcome::other;
    std::uint64_t checked = 0;     // files checked
    std::uint64_t downloaded = 0;  // files downloaded
    std::uint64_t failed = 0;      // files not brought in
    std::uint64_t bytes = 0;       // bytes downloaded
    std::uint64_t duration_ms = 0;
    std::optional<std::uint64_t>
        server;               // index in the server list of the server most files came from
    bool cache_used = false;  // the configuration came from the cache
    std::int64_t time = 0;    // the run's start, seconds since 1970-01-01 00:00 UTC

    bool operator==(const TRunReport&) const = default;
};

// The longest a text field may be; report_query shortens longer ones, parse_report_query refuses
// them. With these, a query stays well under 1 KiB.
inline constexpr std::size_t kMaxReportText = 64;
inline constexpr std::size_t kMaxReportQuery = 1024;

std::string_view outcome_name(TRunOutcome outcome);
std::optional<TRunOutcome> parse_outcome(std::string_view name);

// "v=1&seq=…&id=…": every field percent-encoded, fields without a value left out.
std::string report_query(const TRunReport& report);

// The report that a query states; nothing for a query that is not one of this form and version
// (a foreign query, a truncated one, a field that is malformed, too long or repeated).
std::optional<TRunReport> parse_report_query(std::string_view query);

}  // namespace qiv_start::core
