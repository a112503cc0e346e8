// The report of a run's outcome: counted from the run's messages, sent after the run to the
// server that served its document, kept for a later run when no server takes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/config/config.h"
#include "core/support/messages.h"
#include "core/support/run_report.h"

namespace qiv_start::core {

// Listens to every message of a run; begins the run's clock when it is made.
class TRunTally : public TCoreListener {
  public:
    TRunTally();
    void notify(const TCoreMessage& message) override;

    // The outcome of a run that started the terminal or not; raised: the run ended in an error
    // that was not a message.
    TRunOutcome outcome(bool started, bool raised) const;
    // The report's counts, times and server; servers: the run's list, for the index.
    void fill(TRunReport& report, const std::vector<std::string>& servers) const;
    // The server that delivered the run's document or release; empty when none did.
    const std::string& document_server() const { return document_server_; }

  private:
    std::chrono::system_clock::time_point start_;
    std::chrono::steady_clock::time_point clock_start_;
    bool starting_ = false;      // the terminal was found and its start begun
    bool syncing_ = false;       // its files are being brought up to date
    bool launching_ = false;     // its executable is being started
    std::uint64_t checked_ = 0;  // the files of the terminal, each checked before any download
    std::uint64_t downloaded_ = 0;
    std::uint64_t failed_ = 0;
    std::uint64_t bytes_ = 0;
    std::map<std::string, std::uint64_t> files_by_server_;
    std::string document_server_;
};

// What the caller knows of the run besides its messages.
struct TRunFacts {
    TRunOutcome outcome = TRunOutcome::other;
    std::string terminal;
    std::string launcher_md5;
};

// When the document asks for reports: sends this run's report and those kept from earlier runs
// to the server that served the document, one GET each, all within kReportBudget; keeps those
// not sent. Never raises: every failure is a detail for log.
void report_run(TConfig& config, const TRunTally& tally, const TRunFacts& facts,
                TCoreListener& log);

inline constexpr std::chrono::milliseconds kReportBudget{2000};
inline constexpr std::chrono::milliseconds kReportConnectTimeout{1000};

}  // namespace qiv_start::core
