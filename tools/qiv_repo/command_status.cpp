// qiv_repo status: the fleet as the run reports in the servers' access logs show it.
#include <array>
#include <charconv>

#include "core/config/release.h"
#include "core/support/ascii.h"
#include "core/support/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qiv_repo/access_log.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/fleet.h"
#include "qiv_repo/progress.h"
#include "qiv_repo/release_check.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {

struct TStatusOptions {
    std::vector<std::string> logs;
    std::string since = "7d";
    std::optional<std::int64_t> stale_days;
    bool json = false;
    std::string workstation;
    std::string repository;
};

namespace {

constexpr std::string_view kDefaultReportName = "qiv_start_2.report";

std::optional<std::int64_t> whole_number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// "24h", "7d" before now, or a day "2026-12-01" from its midnight UTC.
std::optional<std::int64_t> period_start(std::string_view text, std::int64_t now) {
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        // The log's own date form reads the day, so that both agree on the calendar.
        constexpr std::array<std::string_view, 12> kMonths{
            "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const auto month = whole_number(text.substr(5, 2));
        if (!month || *month < 1 || *month > 12)
            return std::nullopt;
        return parse_log_time(std::string(text.substr(8, 2)) + "/" +
                              std::string(kMonths[static_cast<std::size_t>(*month - 1)]) + "/" +
                              std::string(text.substr(0, 4)) + ":00:00:00 +0000");
    }
    if (text.size() < 2 || (text.back() != 'h' && text.back() != 'd'))
        return std::nullopt;
    const auto count = whole_number(text.substr(0, text.size() - 1));
    if (!count || *count > 100000)
        return std::nullopt;
    return now - *count * (text.back() == 'h' ? 3600 : 86400);
}

struct TRepositoryState {
    std::string report_name{kDefaultReportName};
    std::optional<std::uint64_t> serial;
    std::string launcher;
};

TRepositoryState read_repository(const std::string& directory) {
    TRepositoryState state;
    const TDocument document = load_document(
        platform::read_file(repository_path(directory, kDocumentName)), platform::ansi_code_page());
    state.launcher = document.root->get_hash();
    // The document writes the digest in upper case, the reports in lower case.
    for (char& c : state.launcher)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (const auto report = find_child(*document.root, "report")) {
        const auto value = report->get_attribute("value");
        if (value && !value->empty())
            state.report_name = *value;
    }
    const std::string release = repository_path(directory, core::kReleaseName);
    if (platform::file_exists(release)) {
        if (const auto record = read_release(release))
            state.serial = record->serial;
    }
    return state;
}

bool is_report_path(std::string_view path, std::string_view name) {
    return path.ends_with(name) &&
           (path.size() == name.size() || path[path.size() - name.size() - 1] == '/');
}

void read_log(const std::string& path, std::size_t source, std::string_view report_name,
              TFleet& fleet, bool interactive, TTransferProgress& progress) {
    const std::int64_t size = path == "-" ? -1 : platform::file_size(path);
    progress.begin(path);
    read_log_lines(
        path,
        [&](std::string_view text) {
            const auto line = parse_log_line(text);
            if (!line) {
                fleet.skip_line();
                return;
            }
            if (line->method != "GET" || !is_report_path(line->path, report_name))
                return;
            auto report = core::parse_report_query(line->query);
            if (report) {
                fleet.add(std::move(*report), line->time, source);
            } else {
                fleet.skip_line();
            }
        },
        [&](std::int64_t offset) { progress.update(offset, size); });
    if (interactive)
        progress.end("", false);
}

int run_status(const TStatusOptions& options, TConsole& console) {
    TFleetOptions fleet_options;
    fleet_options.now = now_seconds();
    const auto since = period_start(options.since, fleet_options.now);
    if (!since) {
        console.err << "Nieprawidłowy okres --since \"" << options.since
                    << "\": podaj np. 24h, 7d albo datę 2026-12-01.\n";
        return kExitWrongUse;
    }
    if (options.stale_days && *options.stale_days < 0) {
        console.err << "Nieprawidłowa liczba dni --stale: " << *options.stale_days << ".\n";
        return kExitWrongUse;
    }
    fleet_options.since = *since;
    fleet_options.stale_days = options.stale_days;
    fleet_options.workstation = options.workstation;
    TRepositoryState repository;
    if (!options.repository.empty()) {
        try {
            repository = read_repository(options.repository);
        } catch (const core::TError& failure) {
            console.err << "Nie udało się odczytać repozytorium " << options.repository << ": "
                        << failure.what() << "\n";
            return kExitProblems;
        }
        fleet_options.current_serial = repository.serial;
        fleet_options.current_launcher = repository.launcher;
    }
    TFleet fleet(fleet_options, options.logs);
    // Without a person watching, no line per log: the output is the summary alone.
    TTransferProgress progress(console, options.logs.size());
    int code = kExitOk;
    for (std::size_t i = 0; i < options.logs.size(); ++i) {
        try {
            read_log(options.logs[i], i, repository.report_name, fleet, console.interactive,
                     progress);
        } catch (const core::TError& failure) {
            console.err << failure.what() << "\n";
            code = kExitProblems;
        }
    }
    if (options.json) {
        fleet.write_json(console.out);
    } else {
        fleet.write_text(console.out);
    }
    return code;
}

}  // namespace

void add_status_command(TCommandContext& context) {
    auto options = std::make_shared<TStatusOptions>();
    CLI::App* command = add_command(
        context.app, "status",
        "Pokazuje stanowiska według raportów uruchomień z dzienników dostępu serwerów (format "
        "combined nginx i Apache, także .gz; - to standardowe wejście).");
    command->add_option("DZIENNIK", options->logs, "Dzienniki dostępu")->required()->type_name("");
    command
        ->add_option("--since", options->since, "Okres: 24h, 7d (domyślnie) albo data RRRR-MM-DD")
        ->type_name("OKRES");
    command
        ->add_option("--stale", options->stale_days, "Wymienia stanowiska niewidziane od tylu dni")
        ->type_name("DNI");
    command->add_flag("--json", options->json, "Wynik jako jeden dokument JSON");
    command
        ->add_option("--workstation", options->workstation,
                     "Pokazuje uruchomienia jednego stanowiska (nazwa lub identyfikator)")
        ->type_name("NAZWA");
    command
        ->add_option("--repo", options->repository,
                     "Katalog repozytorium: jego wydanie i suma programu są bieżące")
        ->type_name("KATALOG");
    run_when_chosen(command, context, options, run_status);
}

}  // namespace qiv_start::repo
