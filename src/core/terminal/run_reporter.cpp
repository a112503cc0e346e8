#include "core/terminal/run_reporter.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <future>

#include "core/config/release.h"
#include "core/download/delivery_note.h"
#include "core/download/http_client.h"
#include "core/download/request_url.h"
#include "core/download/transfer_engine.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/repository_names.h"
#include "core/terminal/controller_prod.h"
#include "platform/config_cache.h"
#include "platform/network.h"

namespace qiv_start::core {
namespace {

const char* const kReportKept = "Raport z uruchomienia zachowano do wysłania później: %0:s";
const char* const kReportNotSent = "Raport z uruchomienia nie został wysłany na serwer %0:s: %1:s";
const char* const kReportFailed = "Nie można przygotować raportu z uruchomienia: %0:s";
const char* const kNoServer = "żaden serwer nie dostarczył ustawień";
const char* const kNoTime = "zabrakło czasu";

// The text of a format before its first argument.
std::string prefix_of(const char* text) {
    const std::string whole = text;
    return whole.substr(0, whole.find('%'));
}

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

std::uint64_t since(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// Any answer of the server counts as sent: the request is in its access log.
class TReportSender {
  public:
    TReportSender(std::string server, std::string name, TCoreListener& log)
        : server_(std::move(server)),
          name_(std::move(name)),
          log_(log),
          deadline_(std::chrono::steady_clock::now() + kReportBudget) {}

    bool send(const std::string& query) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline_ - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero())
            return failed(kNoTime);
        TTransportOptions options;
        options.connect_timeout = std::min(left, kReportConnectTimeout);
        options.answer_timeout = left;
        try {
            THttpClient client(options, engine_, nullptr, &routes_);
            std::promise<std::exception_ptr> ended;
            client.start_get(
                request_url(server_, name_) + "?" + query,
                [this](const char*, std::size_t) { check_time(); }, [](const TBodyStart&) {}, 0, {},
                [&ended](std::exception_ptr failure) { ended.set_value(failure); });
            if (const std::exception_ptr failure = ended.get_future().get())
                std::rethrow_exception(failure);
        } catch (const THttpStatusError&) {
        } catch (const std::exception& failure) {
            return failed(failure.what());
        }
        return true;
    }

  private:
    void check_time() const {
        if (std::chrono::steady_clock::now() > deadline_)
            throw TError(kNoTime);
    }
    bool failed(const std::string& reason) {
        log_.notify(TCoreMessage(detail, format(kReportNotSent, {server_, reason})));
        return false;
    }

    std::string server_;
    std::string name_;
    TCoreListener& log_;
    std::chrono::steady_clock::time_point deadline_;
    TProxyRoutes routes_;
    TTransferEngine engine_;
};

TRunReport make_report(TConfig& config, const TRunTally& tally, const TRunFacts& facts,
                       bool with_host) {
    TRunReport report;
    tally.fill(report, config.get_servers());
    const std::string host = platform::host_name();
    report.sequence = platform::next_report_sequence();
    report.workstation = platform::workstation_id(host);
    if (with_host)
        report.host = host;
    report.launcher = lower_case(facts.launcher_md5);
    if (const std::uint64_t serial = platform::read_release_serial())
        report.serial = serial;
    report.terminal = facts.terminal;
    report.outcome = facts.outcome;
    report.cache_used = !config.is_fetched();
    return report;
}

}  // namespace

TRunTally::TRunTally()
    : start_(std::chrono::system_clock::now()), clock_start_(std::chrono::steady_clock::now()) {}

void TRunTally::notify(const TCoreMessage& message) {
    static const std::string starting = prefix_of(kStartingTerminal);
    static const std::string file_count = prefix_of(kFileCount);
    static const std::string launching = prefix_of(kLaunchingTerminal);
    const std::string& text = message.get_value();
    const TMessageType& type = message.get_type();
    if (&type == &info) {
        starting_ = starting_ || text.starts_with(starting);
        launching_ = launching_ || text.starts_with(launching);
        if (text.starts_with(file_count)) {
            syncing_ = true;
            std::from_chars(text.data() + file_count.size(), text.data() + text.size(), checked_);
        }
    } else if (&type == &error) {
        failed_ += syncing_ && !launching_ ? 1 : 0;
    } else if (const auto delivery = parse_delivery_note(text); delivery && &type == &detail) {
        bytes_ += delivery->bytes;
        if (delivery->file == kDocumentName || delivery->file == kReleaseName)
            document_server_ = delivery->server;
        if (syncing_) {
            ++downloaded_;
            ++files_by_server_[delivery->server];
        }
    }
}

TRunOutcome TRunTally::outcome(bool started, bool raised) const {
    if (started)
        return TRunOutcome::started;
    if (!starting_)
        return raised ? TRunOutcome::no_configuration : TRunOutcome::access_refused;
    if (failed_ > 0)
        return TRunOutcome::file_missing;
    return launching_ ? TRunOutcome::start_failed : TRunOutcome::other;
}

void TRunTally::fill(TRunReport& report, const std::vector<std::string>& servers) const {
    report.checked = checked_;
    report.downloaded = downloaded_;
    report.failed = failed_;
    report.bytes = bytes_;
    report.duration_ms = since(clock_start_);
    report.time =
        std::chrono::duration_cast<std::chrono::seconds>(start_.time_since_epoch()).count();
    const auto most = std::max_element(
        files_by_server_.begin(), files_by_server_.end(),
        [](const auto& one, const auto& other) { return one.second < other.second; });
    if (most == files_by_server_.end())
        return;
    const auto at = std::find(servers.begin(), servers.end(), most->first);
    if (at != servers.end())
        report.server = static_cast<std::uint64_t>(at - servers.begin());
}

void report_run(TConfig& config, const TRunTally& tally, const TRunFacts& facts,
                TCoreListener& log) {
    try {
        const auto setting = config.get_report();
        if (!setting)
            return;
        std::vector<std::string> queries = platform::read_unsent_reports();
        queries.push_back(report_query(make_report(config, tally, facts, setting->host_name)));
        std::vector<std::string> unsent;
        const std::string& server = tally.document_server();
        if (server.empty()) {
            log.notify(TCoreMessage(detail, format(kReportKept, {kNoServer})));
            unsent = std::move(queries);
        } else {
            TReportSender sender(server, setting->name, log);
            std::copy_if(queries.begin(), queries.end(), std::back_inserter(unsent),
                         [&sender](const std::string& query) { return !sender.send(query); });
        }
        platform::write_unsent_reports(unsent);
    } catch (const std::exception& failure) {
        log.notify(TCoreMessage(detail, format(kReportFailed, {failure.what()})));
    }
}

}  // namespace qiv_start::core
