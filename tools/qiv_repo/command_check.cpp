// qiv_repo check: the findings about a repository folder, and the exit code they make.
#include "platform/files.h"
#include "qiv_repo/check.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/release_check.h"

namespace qiv_start::repo {

int run_check(const TCheckOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    if (!public_keys_valid(options.public_keys, console))
        return kExitWrongUse;
    const bool signed_repository = !options.public_keys.empty();
    std::vector<TFinding> findings = check_repository(options.directory, signed_repository);
    if (signed_repository) {
        for (TFinding& finding :
             check_release(options.directory, options.public_keys, now_seconds()))
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
                     "Klucz publiczny (base64), którym ma się weryfikować podpis "
                     "qiv_start_2.release; można podać kilka. Sprawdza też, czy wydanie opisuje "
                     "bieżące pliki, czy nie wygasło i czy każdy plik ma <sha256>")
        ->type_name("KLUCZ");
    run_when_chosen(command, context, options, run_check);
}

}  // namespace qiv_start::repo
