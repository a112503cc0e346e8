// qiv_repo verify: which server of a repository holds a stale or missing copy of which file.
#include <cstdio>
#include <map>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/md5.h"
#include "platform/text.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/progress.h"
#include "qiv_repo/remote.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

// A file every server must hold, with the digest the repository's document gives it.
struct TExpected {
    std::string name;
    std::string digest;
};

struct TServerSummary {
    std::string server;
    int matching = 0;
    int different = 0;
    int missing = 0;
    std::int64_t bytes = 0;
    bool stale() const { return different + missing > 0; }
};

std::string digest_of_bytes(const std::string& bytes) {
    core::TMd5 digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish();
}

std::string quiet_text(const core::TXMLNode& parent, const std::string& name) {
    const auto child = find_child(parent, name);
    return child ? child->get_text() : std::string();
}

// The server list and the document as fetched, then every file the document names.
std::vector<TExpected> expected_files(const std::string& server_list, const TDocument& document) {
    std::vector<TExpected> files = {{kServerListName, digest_of_bytes(server_list)},
                                    {kDocumentName, digest_of_bytes(document.bytes)}};
    std::map<std::string, bool> seen;
    for (const TFileEntry& entry : file_entries(*document.root)) {
        const std::string name = quiet_text(entry.element, "name");
        if (!name.empty() && !seen[name]) {
            seen[name] = true;
            files.push_back({name, quiet_text(entry.element, "hash")});
        }
    }
    return files;
}

class TVerifier {
  public:
    TVerifier(const TVerifyOptions& options, TConsole& console)
        : options_(options), console_(console) {
        transport_.ca_file = options.ca_file;
    }

    int run();

  private:
    std::optional<std::string> fetch_reference(const std::string& name);
    void verify_server(const std::string& server, const std::vector<TExpected>& files,
                       TTransferProgress& progress);
    void print_summary() const;

    const TVerifyOptions& options_;
    TConsole& console_;
    core::TTransportOptions transport_;
    std::vector<TServerSummary> summaries_;
    std::map<std::string, std::int64_t> good_sizes_;  // a matching copy's size, by file
};

std::optional<std::string> TVerifier::fetch_reference(const std::string& name) {
    auto bytes = fetch_bytes(options_.url, name, transport_);
    if (!bytes)
        console_.err << "Nie udało się pobrać " << options_.url << name << ".\n";
    return bytes;
}

int TVerifier::run() {
    const auto server_list = fetch_reference(kServerListName);
    const auto document_bytes = server_list ? fetch_reference(kDocumentName) : std::nullopt;
    if (!document_bytes)
        return kExitProblems;
    for (const auto& problem : server_list_problems(*server_list)) {
        console_.err << kServerListName << (problem.line ? ":" + std::to_string(problem.line) : "")
                     << ": błąd: " << problem.text << "\n";
    }
    TDocument document;
    try {
        document = load_document(*document_bytes, platform::ansi_code_page());
    } catch (const core::TError& failure) {
        console_.err << "qiv_start_2 nie wczyta dokumentu " << options_.url << kDocumentName << ": "
                     << failure.what() << "\n";
        return kExitProblems;
    }
    std::vector<std::string> servers;
    for (const auto& entry : server_list_entries(*server_list)) {
        if (is_address(entry))
            servers.push_back(entry);
    }
    const std::vector<TExpected> files = expected_files(*server_list, document);
    TTransferProgress progress(console_, servers.size() * files.size());
    for (const auto& server : servers)
        verify_server(server, files, progress);
    print_summary();
    const bool stale = std::any_of(summaries_.begin(), summaries_.end(),
                                   [](const TServerSummary& s) { return s.stale(); });
    return stale || servers.empty() || !server_list_problems(*server_list).empty() ? kExitProblems
                                                                                   : kExitOk;
}

void TVerifier::verify_server(const std::string& server, const std::vector<TExpected>& files,
                              TTransferProgress& progress) {
    TServerSummary summary{server};
    for (const TExpected& file : files) {
        progress.begin(server + file.name);
        const TFetched fetched = fetch_digest(
            server, file.name, transport_,
            [&](std::int64_t received, std::int64_t size) { progress.update(received, size); });
        summary.bytes += fetched.size;
        if (!fetched.delivered) {
            ++summary.missing;
            progress.end("brak pliku na serwerze", true);
        } else if (!core::equals_ignoring_ascii_case(fetched.digest, file.digest)) {
            ++summary.different;
            const auto good = good_sizes_.find(file.name);
            progress.end("inna zawartość: MD5 " + fetched.digest + ", " +
                             std::to_string(fetched.size) + " B; dokument podaje MD5 " +
                             (file.digest.empty() ? "(brak)" : file.digest) +
                             (good == good_sizes_.end()
                                  ? std::string()
                                  : ", zgodna kopia ma " + std::to_string(good->second) + " B"),
                         true);
        } else {
            ++summary.matching;
            good_sizes_.emplace(file.name, fetched.size);
            progress.end("zgodny, " + human_size(fetched.size), false);
        }
    }
    summaries_.push_back(summary);
}

void TVerifier::print_summary() const {
    console_.out << "\n";
    char line[512];
    std::snprintf(line, sizeof line, "%-44s %7s %7s %7s %11s\n", "Serwer", "zgodne", "różne",
                  "brak", "pobrano");
    console_.out << line;
    for (const TServerSummary& s : summaries_) {
        std::snprintf(line, sizeof line, "%-44s %7d %6d %7d %11s  %s\n", s.server.c_str(),
                      s.matching, s.different, s.missing, human_size(s.bytes).c_str(),
                      s.stale() ? "NIEAKTUALNY" : "aktualny");
        console_.out << line;
    }
    for (const TServerSummary& s : summaries_) {
        if (s.stale()) {
            console_.out << "Serwer " << s.server << " jest nieaktualny: różne pliki "
                         << s.different << ", brakujące " << s.missing << ".\n";
        }
    }
    if (std::none_of(summaries_.begin(), summaries_.end(),
                     [](const TServerSummary& s) { return s.stale(); })) {
        console_.out << "Wszystkie serwery mają aktualne kopie wszystkich plików.\n";
    }
}

}  // namespace

int run_verify(const TVerifyOptions& options, TConsole& console) {
    if (!is_base_address(options.url)) {
        console.err << "Adres \"" << options.url
                    << "\" musi zaczynać się od http:// albo https:// i kończyć ukośnikiem "
                       "\"/\".\n";
        return kExitWrongUse;
    }
    return TVerifier(options, console).run();
}

void add_verify_command(TCommandContext& context) {
    auto options = std::make_shared<TVerifyOptions>();
    CLI::App* command = add_command(
        context.app, "verify",
        "Czyta repozytorium tak jak stacja, pobiera każdy plik z każdego serwera z jego "
        "servers.cfg i porównuje rozmiary i sumy MD5: pokazuje, który serwer jest nieaktualny.");
    command->add_option("URL", options->url, "Adres bazowy repozytorium, zakończony ukośnikiem")
        ->required()
        ->type_name("");
    add_ca_file_option(command, options->ca_file);
    run_when_chosen(command, context, options, run_verify);
}

}  // namespace qiv_start::repo
