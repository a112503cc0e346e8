// qiv_repo verify: which server of a repository holds a stale or missing copy of which file, and
// with keys, which one serves an older release or files its own release does not describe.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "core/config/release.h"
#include "core/support/error.h"
#include "core/support/md5.h"
#include "platform/text.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/progress.h"
#include "qiv_repo/release_check.h"
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
    // With keys: the server's verified release, or why it has none; the files it binds that
    // differ from it.
    std::optional<core::TRelease> release{};
    std::string release_problem{};
    int unbound = 0;
    bool lagging = false;

    bool stale() const {
        return different + missing + unbound > 0 || !release_problem.empty() || lagging;
    }
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
    void verify_release(TServerSummary& summary, TTransferProgress& progress);
    static std::string release_outcome(TServerSummary& summary, const std::string& name,
                                       const TFetched& fetched);
    void find_lagging();
    void print_summary() const;

    const TVerifyOptions& options_;
    TConsole& console_;
    core::TTransportOptions transport_;
    std::vector<TServerSummary> summaries_;
    std::map<std::string, std::int64_t> good_sizes_;  // a matching copy's size, by file
    std::uint64_t highest_serial_ = 0;                // of the releases that verified
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
    const bool with_keys = !options_.public_keys.empty();
    TTransferProgress progress(console_, servers.size() * (files.size() + (with_keys ? 1 : 0)));
    for (const auto& server : servers)
        verify_server(server, files, progress);
    find_lagging();
    print_summary();
    const bool stale = std::any_of(summaries_.begin(), summaries_.end(),
                                   [](const TServerSummary& s) { return s.stale(); });
    return stale || servers.empty() || !server_list_problems(*server_list).empty() ? kExitProblems
                                                                                   : kExitOk;
}

void TVerifier::verify_server(const std::string& server, const std::vector<TExpected>& files,
                              TTransferProgress& progress) {
    TServerSummary summary{server};
    if (!options_.public_keys.empty())
        verify_release(summary, progress);
    for (const TExpected& file : files) {
        progress.begin(server + file.name);
        const bool bound = file.name == kServerListName || file.name == kDocumentName;
        const TFetched fetched = fetch_digest(
            server, file.name, transport_,
            [&](std::int64_t received, std::int64_t size) { progress.update(received, size); },
            bound && summary.release);
        summary.bytes += fetched.size;
        std::string outcome;
        bool problem = true;
        if (!fetched.delivered) {
            ++summary.missing;
            outcome = "brak pliku na serwerze";
        } else if (!core::same_digest(fetched.digest, file.digest)) {
            ++summary.different;
            const auto good = good_sizes_.find(file.name);
            outcome = "inna zawartość: MD5 " + fetched.digest + ", " +
                      std::to_string(fetched.size) + " B; dokument podaje MD5 " +
                      (file.digest.empty() ? "(brak)" : file.digest) +
                      (good == good_sizes_.end()
                           ? std::string()
                           : ", zgodna kopia ma " + std::to_string(good->second) + " B");
        } else {
            ++summary.matching;
            good_sizes_.emplace(file.name, fetched.size);
            outcome = "zgodny, " + human_size(fetched.size);
            problem = false;
        }
        if (fetched.delivered && bound && summary.release) {
            if (std::string unbound = release_outcome(summary, file.name, fetched);
                !unbound.empty()) {
                outcome = problem ? outcome + "; " + unbound : unbound;
                problem = true;
            }
        }
        progress.end(outcome, problem);
    }
    summaries_.push_back(summary);
}

// The server's release, taken only when it verifies with one of the keys and has not expired.
void TVerifier::verify_release(TServerSummary& summary, TTransferProgress& progress) {
    progress.begin(summary.server + core::kReleaseName);
    const auto text = fetch_bytes(summary.server, core::kReleaseName, transport_);
    const auto release = text && text->size() <= core::kMaxReleaseSize
                             ? core::verify_release(*text, options_.public_keys)
                             : std::nullopt;
    const auto stated = text && !release ? core::parse_release(*text) : std::nullopt;
    if (!text) {
        summary.release_problem = "brak wydania na serwerze";
    } else if (stated) {
        summary.release_problem = "wydanie " + std::to_string(stated->serial) +
                                  " nie ma podpisu, który weryfikuje się którymś z podanych "
                                  "kluczy publicznych";
    } else if (!release) {
        summary.release_problem = "plik nie jest wydaniem";
    } else if (release->expires && *release->expires <= now_seconds()) {
        summary.release_problem = "wydanie " + std::to_string(release->serial) + " wygasło " +
                                  core::utc_text(*release->expires);
    } else {
        summary.release = release;
        progress.end("wydanie " + std::to_string(release->serial) +
                         (release->expires ? ", ważne do " + core::utc_text(*release->expires)
                                           : std::string(", bez terminu ważności")),
                     false);
        return;
    }
    progress.end(summary.release_problem, true);
}

// Why the bytes of a file that the server's release binds are not the ones it describes; "" when
// they are.
std::string TVerifier::release_outcome(TServerSummary& summary, const std::string& name,
                                       const TFetched& fetched) {
    const core::TReleaseFile& described =
        name == kServerListName ? summary.release->servers : summary.release->document;
    if (described.size == static_cast<std::uint64_t>(fetched.size) &&
        core::same_digest(fetched.sha256, described.sha256))
        return {};
    ++summary.unbound;
    std::string sha256 = fetched.sha256;
    std::transform(sha256.begin(), sha256.end(), sha256.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return "nie zgadza się z wydaniem " + std::to_string(summary.release->serial) +
           " tego serwera (serwer ma " +
           file_description({static_cast<std::uint64_t>(fetched.size), sha256}) +
           ", wydanie podaje " + file_description(described) + ")";
}

// A server whose verified release is older than another server's verified release lags behind.
void TVerifier::find_lagging() {
    for (const TServerSummary& s : summaries_)
        highest_serial_ = std::max(highest_serial_, s.release ? s.release->serial : 0);
    for (TServerSummary& s : summaries_)
        s.lagging = s.release && s.release->serial < highest_serial_;
}

void TVerifier::print_summary() const {
    const bool with_keys = !options_.public_keys.empty();
    console_.out << "\n";
    char line[512];
    std::snprintf(line, sizeof line, "%-44s %7s %7s %7s %11s%s\n", "Serwer", "zgodne", "różne",
                  "brak", "pobrano", with_keys ? "  wydanie" : "");
    console_.out << line;
    for (const TServerSummary& s : summaries_) {
        const std::string serial = !with_keys  ? ""
                                   : s.release ? std::to_string(s.release->serial)
                                               : "-";
        std::snprintf(line, sizeof line, "%-44s %7d %6d %7d %11s%*s  %s\n", s.server.c_str(),
                      s.matching, s.different, s.missing, human_size(s.bytes).c_str(),
                      with_keys ? 9 : 0, serial.c_str(), s.stale() ? "NIEAKTUALNY" : "aktualny");
        console_.out << line;
    }
    for (const TServerSummary& s : summaries_) {
        if (s.different + s.missing > 0) {
            console_.out << "Serwer " << s.server << " jest nieaktualny: różne pliki "
                         << s.different << ", brakujące " << s.missing << ".\n";
        }
        if (!s.release_problem.empty()) {
            console_.out << "Serwer " << s.server << " nie ma ważnego wydania ("
                         << s.release_problem << "): stacje z kluczami go pominą.\n";
        }
        if (s.lagging) {
            console_.out << "Serwer " << s.server << " ma wydanie " << s.release->serial
                         << ", a najnowsze to " << highest_serial_
                         << ": skopiuj na niego bieżące pliki, wydanie na końcu.\n";
        }
        if (s.unbound > 0) {
            console_.out << "Serwer " << s.server << " podaje pliki niezgodne z własnym wydaniem "
                         << s.release->serial << " (" << s.unbound
                         << "): stacje z kluczami go pominą.\n";
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
    if (!public_keys_valid(options.public_keys, console))
        return kExitWrongUse;
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
    command
        ->add_option("--public-key", options->public_keys,
                     "Klucz publiczny (base64): sprawdza też qiv_start_2.release każdego serwera "
                     "(podpis, termin ważności, zgodność z jego plikami) i wskazuje serwery ze "
                     "starszym wydaniem; można podać kilka")
        ->type_name("KLUCZ");
    run_when_chosen(command, context, options, run_verify);
}

}  // namespace qiv_start::repo
