#include "qiv_repo/check.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>

#include "core/config/config_values.h"
#include "core/config/release.h"
#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/md5.h"
#include "core/support/text_codec.h"
#include "core/terminal/terminal_access.h"
#include "core/terminal/zip_extract.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qiv_repo/parallel_md5.h"
#include "qiv_repo/path_rules.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

using core::TXMLNode;

// The look-and-feel elements that the launcher reads; a failure there stops it.
const char* const kUsedColours[] = {"clBtnNormal", "clBtnHighlight", "clBtnText", "clBtnFrame"};
const char* const kUsedSizes[] = {"btnWidth", "btnHeight", "margin", "topMargin"};
const char* const kOtherColours[] = {"clForm", "clText", "clLink"};
const char* const kOtherSizes[] = {"textSize", "btnTextSize", "btnRowLength"};
// The detached signatures that the release record replaced.
const char* const kOldSignatureNames[] = {"qiv_start_2.xml.sig", "servers.cfg.sig"};

class TChecker {
  public:
    TChecker(std::string directory, bool require_sha256)
        : directory_(std::move(directory)), require_sha256_(require_sha256) {}

    std::vector<TFinding> run();

  private:
    void error(long line, const std::string& text) {
        add(TFinding::kError, kDocumentName, line, text);
    }
    void warning(long line, const std::string& text) {
        add(TFinding::kWarning, kDocumentName, line, text);
    }
    void add(TFinding::TSeverity severity, const std::string& source, long line,
             const std::string& text) {
        findings_.push_back({severity, source, line, text});
    }

    void check_server_list();
    std::optional<core::TXMLQiv_start> check_loading(const std::string& bytes);
    std::optional<std::string> text_of(const TXMLNode& parent, const std::string& name);
    std::optional<std::string> text_in(const TXMLNode& element);
    void check_launcher_digest(const core::TXMLQiv_start& root);
    void check_look(const core::TXMLQiv_start& root);
    void check_look_value(const core::TXMLQiv_start& root, const std::string& name, bool colour,
                          bool used);
    void check_networks(const core::TXMLQiv_start& root);
    void check_terminals(const core::TXMLQiv_start& root);
    void check_files(const core::TXMLQiv_start& root);
    void check_file(const TFileEntry& entry, const std::map<std::string, TFileDigest>& digests);
    void check_digest(const TXMLNode& file, const std::string& name, const TFileDigest* actual);
    void check_sha256(const TXMLNode& file, const std::string& name, const TFileDigest* actual);
    void check_unzip(const TXMLNode& file, const std::string& path);
    void check_unreferenced();

    std::string directory_;
    bool require_sha256_;
    std::vector<TFinding> findings_;
    std::set<std::string> referenced_;
};

bool is_upper_hex_digest(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// A SHA-256 as the launcher compares it: 64 hexadecimal digits in either letter case.
bool is_sha256_digest(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               c = core::ascii_upper(c);
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

std::string upper(std::string text) {
    for (char& c : text)
        c = core::ascii_upper(c);
    return text;
}

// The line that the parser named in its reason, or 0.
long line_in_reason(const std::string& reason) {
    std::smatch match;
    static const std::regex line_pattern(R"(\(line (\d+)\))");
    return std::regex_search(reason, match, line_pattern) ? std::stol(match[1]) : 0;
}

// The child's text, "" when it has none or other content (reported where it is checked).
std::string quiet_text(const TXMLNode& parent, const std::string& name) {
    try {
        const auto child = find_child(parent, name);
        return child ? child->get_text() : std::string();
    } catch (const core::TError&) {
        return {};
    }
}

bool starts_like_zip(const std::string& path) {
    try {
        platform::TFileReader reader(path);
        char head[4] = {};
        const std::size_t n = reader.read(head, sizeof head);
        const std::string signature(head, n);
        return signature == std::string("PK\x03\x04", 4) ||
               signature == std::string("PK\x05\x06", 4);
    } catch (const core::TError&) {
        return false;
    }
}

}  // namespace

std::vector<TFinding> TChecker::run() {
    check_server_list();
    const std::string path = repository_path(directory_, kDocumentName);
    if (!platform::file_exists(path)) {
        error(0, "brak dokumentu w katalogu repozytorium");
    } else if (const auto root = check_loading(platform::read_file(path))) {
        check_launcher_digest(*root);
        // The file that run reports ask for is served for them alone.
        if (const auto report = root->get_report())
            referenced_.insert(report->first);
        check_look(*root);
        check_networks(*root);
        check_terminals(*root);
        check_files(*root);
        check_unreferenced();
    }
    std::stable_sort(findings_.begin(), findings_.end(), [](const auto& a, const auto& b) {
        return std::tie(a.source, a.line) < std::tie(b.source, b.line);
    });
    return findings_;
}

void TChecker::check_server_list() {
    const std::string path = repository_path(directory_, kServerListName);
    if (!platform::file_exists(path)) {
        add(TFinding::kError, kServerListName, 0, "brak listy serwerów w katalogu repozytorium");
        return;
    }
    for (const auto& problem : server_list_problems(platform::read_file(path)))
        add(TFinding::kError, kServerListName, problem.line, problem.text);
}

// Reports a document that the launcher refuses; returns its root when it can still be walked.
std::optional<core::TXMLQiv_start> TChecker::check_loading(const std::string& bytes) {
    try {
        load_document(bytes, platform::ansi_code_page());
    } catch (const core::TError& failure) {
        error(line_in_reason(failure.what()),
              std::string("qiv_start_2 nie wczyta tego dokumentu: ") + failure.what());
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) != 0 && bytes.rfind("\xFF\xFE", 0) != 0 &&
        bytes.rfind("\xFE\xFF", 0) != 0) {
        warning(0,
                "dokument nie ma znacznika BOM: stacje odczytają go w swojej stronie kodowej "
                "(ANSI), a nie jako UTF-8");
    }
    try {
        return core::get_qiv_start(core::parse_xml_document_with_ranges(
            core::decode_text(bytes, platform::ansi_code_page())));
    } catch (const core::TError&) {
        return std::nullopt;
    }
}

// The child's text, "" when there is no such child; nothing (and an error) for other content.
std::optional<std::string> TChecker::text_of(const TXMLNode& parent, const std::string& name) {
    const auto child = find_child(parent, name);
    return child ? text_in(*child) : std::string();
}

std::optional<std::string> TChecker::text_in(const TXMLNode& element) {
    try {
        return element.get_text();
    } catch (const core::TError&) {
        error(element.line(), "element <" + element.local_name() + "> może zawierać tylko tekst");
        return std::nullopt;
    }
}

void TChecker::check_launcher_digest(const core::TXMLQiv_start& root) {
    const auto digest = text_of(root, "hash");
    if (!digest)
        return;
    const long line = line_of(root, "hash");
    if (digest->empty()) {
        error(line,
              "brak sumy MD5 programu qiv_start_2: każda stacja uzna swój program za "
              "nieaktualny (uzupełnia ją: qiv_repo hash KATALOG --launcher PLIK)");
    } else if (!is_upper_hex_digest(*digest)) {
        error(line, "suma programu qiv_start_2 \"" + *digest +
                        "\" nie składa się z 32 cyfr szesnastkowych pisanych wielkimi literami");
    }
}

void TChecker::check_look(const core::TXMLQiv_start& root) {
    for (const char* name : kUsedColours)
        check_look_value(root, name, true, true);
    for (const char* name : kUsedSizes)
        check_look_value(root, name, false, true);
    for (const char* name : kOtherColours)
        check_look_value(root, name, true, false);
    for (const char* name : kOtherSizes)
        check_look_value(root, name, false, false);
}

// A value the launcher reads is an error when it does not read; one it does not read, a warning.
void TChecker::check_look_value(const core::TXMLQiv_start& root, const std::string& name,
                                bool colour, bool used) {
    const auto element = find_child(root, name);
    const auto report = [&](long line, const std::string& text) {
        used ? error(line, text) : warning(line, text);
    };
    if (!element) {
        if (used)
            error(root.line(), "brak elementu <" + name + " value=\"...\"/>");
        return;
    }
    const auto value = element->get_attribute("value");
    if (!value) {
        report(element->line(), "element <" + name + "> nie ma atrybutu value");
    } else if (!colour && !core::integer_from_text(*value)) {
        report(element->line(), "rozmiar " + name + " \"" + *value + "\" nie jest liczbą");
    } else if (colour) {
        try {
            core::color_from_text(*value);
        } catch (const core::TError&) {
            report(element->line(), "kolor " + name + " \"" + *value +
                                        "\" nie jest nazwą koloru (np. clNavy) ani liczbą");
        }
    }
}

void TChecker::check_networks(const core::TXMLQiv_start& root) {
    for (const core::TXMLNode& network : root.child_elements()) {
        if (network.local_name() != "network")
            continue;
        const std::string mask = network.get_attribute("mask").value_or("");
        const std::string ip = network.get_attribute("ip").value_or("");
        core::TNetworkCalculator calculator;
        try {
            core::parse_dotted_quad(mask);
            calculator.set_mask(mask);
        } catch (const core::TError&) {
            error(network.line(), "maska sieci \"" + mask +
                                      "\" nie jest prawidłowa (np. 255.255.255.0); qiv_start_2 "
                                      "zakończy się błędem przy wyborze terminala");
        }
        try {
            calculator.set_network_address(ip);
        } catch (const core::TError&) {
            error(network.line(), "adres sieci \"" + ip +
                                      "\" nie jest adresem IPv4; qiv_start_2 zakończy się "
                                      "błędem przy wyborze terminala");
        }
    }
}

void TChecker::check_terminals(const core::TXMLQiv_start& root) {
    std::set<std::string> dll_names;
    for (const TXMLNode& dll : root.child_elements()) {
        if (dll.local_name() == "dll")
            dll_names.insert(text_of(dll, "name").value_or(""));
    }
    std::map<std::string, long> ids;
    for (const TXMLNode& terminal : root.child_elements()) {
        if (terminal.local_name() != "terminal")
            continue;
        const std::string id = text_of(terminal, "id").value_or("");
        if (id.empty()) {
            error(terminal.line(), "terminal bez kodu <id>");
        } else if (const auto [first, added] = ids.emplace(id, terminal.line()); !added) {
            error(terminal.line(), "drugi terminal o kodzie \"" + id + "\" (pierwszy w wierszu " +
                                       std::to_string(first->second) + ")");
        }
        if (!find_child(terminal, "exe_file"))
            error(terminal.line(), "terminal \"" + id + "\" nie ma elementu <exe_file>");
        for (const TXMLNode& library : terminal.child_elements()) {
            if (library.local_name() != "dll_lib")
                continue;
            const auto name = text_in(library);
            if (!name)
                continue;
            if (name->empty()) {
                error(library.line(), "pusty element <dll_lib>");
            } else if (!dll_names.count(*name)) {
                error(library.line(), "<dll_lib> \"" + *name + "\" nie wskazuje żadnego <dll>");
            }
        }
    }
}

void TChecker::check_files(const core::TXMLQiv_start& root) {
    const std::vector<TFileEntry> entries = file_entries(root);
    std::vector<std::string> paths;
    for (const TFileEntry& entry : entries) {
        const std::string name = quiet_text(entry.element, "name");
        if (!file_name_problem(name))
            paths.push_back(repository_path(directory_, name));
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    std::vector<std::string> present;
    std::copy_if(paths.begin(), paths.end(), std::back_inserter(present), platform::file_exists);
    const bool with_sha256 =
        require_sha256_ || std::any_of(entries.begin(), entries.end(), [](const TFileEntry& entry) {
            return !quiet_text(entry.element, "sha256").empty();
        });
    const std::vector<TFileDigest> digests = digest_files(present, 0, with_sha256);
    std::map<std::string, TFileDigest> by_path;
    for (std::size_t i = 0; i < present.size(); ++i)
        by_path[present[i]] = digests[i];
    for (const TFileEntry& entry : entries)
        check_file(entry, by_path);
}

void TChecker::check_file(const TFileEntry& entry,
                          const std::map<std::string, TFileDigest>& digests) {
    const TXMLNode& file = entry.element;
    const auto name = text_of(file, "name");
    const auto target = text_of(file, "target_path");
    if (target) {
        if (const auto problem = target_path_problem(*target))
            error(line_of(file, "target_path"), "target_path \"" + *target + "\" " + *problem);
    }
    if (!name)
        return;
    if (const auto problem = file_name_problem(*name)) {
        error(line_of(file, "name"),
              "nazwa pliku \"" + *name + "\" (" + entry.place + ") " + *problem);
        return;
    }
    referenced_.insert(*name);
    const std::string path = repository_path(directory_, *name);
    const auto found = digests.find(path);
    if (found == digests.end()) {
        error(line_of(file, "name"),
              "plik \"" + *name + "\" (" + entry.place + ") nie istnieje w katalogu repozytorium");
    }
    check_digest(file, *name, found == digests.end() ? nullptr : &found->second);
    check_sha256(file, *name, found == digests.end() ? nullptr : &found->second);
    if (found != digests.end())
        check_unzip(file, path);
}

void TChecker::check_digest(const TXMLNode& file, const std::string& name,
                            const TFileDigest* actual) {
    const auto digest = text_of(file, "hash");
    if (!digest)
        return;
    const long line = line_of(file, "hash");
    if (!is_upper_hex_digest(*digest)) {
        const bool lower = is_upper_hex_digest(upper(*digest));
        error(line, "suma pliku \"" + name + "\" \"" + *digest + "\" " +
                        (lower ? "ma małe litery: stacje pobiorą ten plik przy każdym "
                                 "uruchomieniu"
                               : "nie składa się z 32 cyfr szesnastkowych pisanych wielkimi "
                                 "literami"));
    } else if (actual && !actual->digest.empty() && actual->digest != *digest) {
        error(line, "suma pliku \"" + name + "\" w dokumencie to " + *digest + ", a plik ma " +
                        actual->digest + " (uaktualnia ją: qiv_repo hash KATALOG)");
    } else if (actual && actual->digest.empty()) {
        error(line, "nie można odczytać pliku \"" + name + "\": " + actual->error);
    }
}

// A <sha256> binds the file for every workstation that reads it; with trusted keys an entry
// without one is refused.
void TChecker::check_sha256(const TXMLNode& file, const std::string& name,
                            const TFileDigest* actual) {
    const auto digest = text_of(file, "sha256");
    if (!digest)
        return;
    const long line = line_of(file, "sha256");
    if (digest->empty()) {
        if (require_sha256_) {
            error(line, "plik \"" + name +
                            "\" nie ma <sha256>: stacje z kluczami go nie pobiorą (dopisuje: "
                            "qiv_repo hash KATALOG --sha256)");
        }
    } else if (!is_sha256_digest(*digest)) {
        error(line, "suma SHA-256 pliku \"" + name + "\" \"" + *digest +
                        "\" nie składa się z 64 cyfr szesnastkowych");
    } else if (actual && !actual->sha256.empty() && !core::same_digest(actual->sha256, *digest)) {
        error(line, "suma SHA-256 pliku \"" + name + "\" w dokumencie to " + *digest +
                        ", a plik ma " + actual->sha256 +
                        " (uaktualnia ją: qiv_repo hash KATALOG)");
    }
}

void TChecker::check_unzip(const TXMLNode& file, const std::string& path) {
    const auto unzip = text_of(file, "unzip");
    if (!unzip || unzip->empty())
        return;
    const long line = line_of(file, "unzip");
    const std::string value = upper(*unzip);
    if (value != "TRUE") {
        if (value != "FALSE") {
            warning(line, "<unzip> \"" + *unzip +
                              "\" qiv_start_2 czyta jak FALSE; "
                              "rozpakowanie włącza tylko TRUE");
        }
        return;
    }
    if (!starts_like_zip(path)) {
        warning(line, "<unzip> TRUE przy pliku, który nie jest archiwum zip");
        return;
    }
    try {
        core::check_archive(path);
    } catch (const core::TError& failure) {
        error(line, failure.what());
    }
}

void TChecker::check_unreferenced() {
    namespace fs = std::filesystem;
    // The launcher itself, for Windows and Linux, is offered by the download page and fetched by
    // launchers that update themselves.
    const std::set<std::string> own = {kDocumentName,      kServerListName,   kDownloadPageName,
                                       core::kReleaseName, "qiv_start_2.exe", "qiv_start_2"};
    const std::set<std::string> old_signatures(std::begin(kOldSignatureNames),
                                               std::end(kOldSignatureNames));
    std::error_code failure;
    const fs::path directory(std::u8string(directory_.begin(), directory_.end()));
    for (const auto& item : fs::directory_iterator(directory, failure)) {
        if (!item.is_regular_file())
            continue;
        const std::u8string file_name = item.path().filename().u8string();
        const std::string name(file_name.begin(), file_name.end());
        if (old_signatures.count(name)) {
            add(TFinding::kWarning, name, 0,
                std::string("podpis w dawnym formacie, którego stacje już nie czytają (zastąpiło "
                            "go wydanie ") +
                    core::kReleaseName + "); można go usunąć");
        } else if (!own.count(name) && !referenced_.count(name)) {
            add(TFinding::kWarning, name, 0,
                "plik nie jest wymieniony w dokumencie; żadna stacja go nie pobierze");
        }
    }
}

std::vector<TFinding> check_repository(const std::string& directory, bool require_sha256) {
    return TChecker(directory, require_sha256).run();
}

std::string describe(const TFinding& finding) {
    std::string text = finding.source;
    if (finding.line > 0)
        text += ":" + std::to_string(finding.line);
    text += finding.severity == TFinding::kError ? ": błąd: " : ": ostrzeżenie: ";
    return text + finding.text;
}

}  // namespace qiv_start::repo
