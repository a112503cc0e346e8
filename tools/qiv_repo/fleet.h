// The fleet as its run reports show it: each run counted once, each workstation by its last report.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/support/run_report.h"

namespace qiv_start::repo {

struct TFleetOptions {
    std::int64_t now = 0;
    std::int64_t since = 0;  // runs before this are outside the period
    std::optional<std::int64_t> stale_days;
    std::string workstation;  // a host name or identifier: list its runs instead of the fleet
    // The repository's current release and launcher (lower-case MD5); without them the newest seen.
    std::optional<std::uint64_t> current_serial;
    std::string current_launcher;
};

inline constexpr std::size_t kOutcomeCount = 8;

// One workstation as its last report left it, and its runs in the period.
struct TStation {
    std::string id;
    std::string host;
    std::string launcher;
    std::optional<std::uint64_t> serial;
    std::string channel;
    std::string terminal;
    core::TRunOutcome outcome = core::TRunOutcome::other;
    std::int64_t last_seen = 0;
    std::uint64_t last_sequence = 0;
    std::array<std::uint64_t, kOutcomeCount> runs{};  // in the period, per outcome
};

// A run of the workstation asked for, with the log it came from.
struct TStationRun {
    core::TRunReport report;
    std::size_t source = 0;
};

class TFleet {
  public:
    TFleet(TFleetOptions options, std::vector<std::string> sources);

    // Counts the report that a line of the source carried at line_time; a run already counted
    // (another mirror's log, a report sent again) is not counted twice.
    void add(core::TRunReport report, std::int64_t line_time, std::size_t source);
    void skip_line() { ++skipped_; }

    void write_text(std::ostream& out) const;
    void write_json(std::ostream& out) const;

  private:
    // The 32 hexadecimal digits of a workstation's identifier or a launcher's MD5, as 128 bits:
    // keys that hash and compare without touching the heap.
    struct TDigest {
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        bool operator==(const TDigest&) const = default;
    };
    struct TRunKey {
        TDigest workstation;
        std::uint64_t sequence = 0;
        bool operator==(const TRunKey&) const = default;
    };
    struct TKeyHash {
        std::size_t operator()(const TDigest& key) const;
        std::size_t operator()(const TRunKey& key) const;
    };

    void count_run(const core::TRunReport& report, std::size_t source);
    std::vector<const TStation*> stations_in_period() const;
    std::optional<std::uint64_t> newest_serial(const std::vector<const TStation*>& seen) const;
    std::string newest_launcher(const std::vector<const TStation*>& seen) const;
    static TDigest digest_of(std::string_view hex);
    std::vector<const TStation*> outdated(const std::vector<const TStation*>& seen) const;
    std::vector<const TStation*> stale() const;
    void write_runs_text(std::ostream& out) const;
    void write_runs_json(std::ostream& out) const;

    TFleetOptions options_;
    std::vector<std::string> sources_;
    std::unordered_set<TRunKey, TKeyHash> counted_;
    std::unordered_map<TDigest, TStation, TKeyHash> stations_;
    std::unordered_map<TDigest, std::int64_t, TKeyHash> launcher_first_seen_;
    std::vector<TStationRun> station_runs_;
    std::array<std::uint64_t, kOutcomeCount> outcomes_{};
    std::vector<std::uint64_t> source_runs_;
    std::unordered_map<std::uint64_t, std::uint64_t> server_runs_;
    std::uint64_t runs_ = 0;
    std::uint64_t cache_runs_ = 0;
    std::uint64_t skipped_ = 0;
};

// "2026-12-10T08:15:00Z".
std::string iso_time(std::int64_t seconds);

}  // namespace qiv_start::repo
