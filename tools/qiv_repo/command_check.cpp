// qiv_repo check: the findings about a repository folder, and the exit code they make.
#include <algorithm>

#include "core/support/signature.h"
#include "platform/files.h"
#include "qiv_repo/check.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

bool is_public_key(const std::string& key) {
    const auto raw = core::decode_base64(key);
    return raw && raw->size() == 32;
}

// A signed file whose signature is missing or does not verify with one of the keys.
std::vector<TFinding> check_signatures(const std::string& directory,
                                       const core::TTrustedKeys& keys) {
    std::vector<TFinding> findings;
    for (const char* name : kSignedNames) {
        const std::string path = repository_path(directory, name);
        const std::string signature_path = path + kSignatureSuffix;
        if (!platform::file_exists(path))
            continue;  // the other checks report a missing file
        if (!platform::file_exists(signature_path)) {
            findings.push_back({TFinding::kError, name, 0,
                                std::string("brak podpisu ") + name + kSignatureSuffix +
                                    " (qiv_repo sign); stacje z kluczami nie przyjmą pliku"});
        } else if (!core::is_signed_by(platform::read_file(path),
                                       platform::read_file(signature_path), keys)) {
            findings.push_back({TFinding::kError, name, 0,
                                std::string("podpis ") + name + kSignatureSuffix +
                                    " nie zgadza się z plikiem albo z kluczem publicznym; "
                                    "podpisz plik ponownie (qiv_repo sign)"});
        }
    }
    return findings;
}

}  // namespace

int run_check(const TCheckOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    if (!std::all_of(options.public_keys.begin(), options.public_keys.end(), is_public_key)) {
        console.err << "Klucz publiczny to 44 znaki base64 (32 bajty), jak wypisuje qiv_repo "
                       "keygen.\n";
        return kExitWrongUse;
    }
    std::vector<TFinding> findings = check_repository(options.directory);
    if (!options.public_keys.empty()) {
        for (TFinding& finding : check_signatures(options.directory, options.public_keys))
            findings.push_back(std::move(finding));
    }
    int errors = 0;
    int warnings = 0;
    for (const TFinding& finding : findings) {
        console.out << describe(finding) << "\n";
        ++(finding.severity == TFinding::kError ? errors : warnings);
    }
    if (errors == 0 && warnings == 0) {
        console.out << "Nie znaleziono problemów.\n";
    } else {
        console.out << "Błędy: " << errors << ", ostrzeżenia: " << warnings << ".\n";
    }
    return errors == 0 ? kExitOk : kExitProblems;
}

void add_check_command(TCommandContext& context) {
    auto options = std::make_shared<TCheckOptions>();
    CLI::App* command = add_command(
        context.app, "check",
        "Sprawdza katalog repozytorium: wszystko, o co potknęłaby się stacja (z numerem wiersza "
        "dokumentu), oraz ostrzega przed tym, co działa, ale wygląda na pomyłkę.");
    command->add_option("KATALOG", options->directory, "Katalog repozytorium")
        ->required()
        ->type_name("");
    command
        ->add_option("--public-key", options->public_keys,
                     "Klucz publiczny (base64), którym mają się weryfikować podpisy "
                     "qiv_start_2.xml.sig i servers.cfg.sig; można podać kilka")
        ->type_name("KLUCZ");
    run_when_chosen(command, context, options, run_check);
}

}  // namespace qiv_start::repo
