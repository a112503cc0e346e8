// qiv_repo check: the findings about a repository folder, and the exit code they make.
#include "platform/files.h"
#include "qiv_repo/check.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"

namespace qiv_start::repo {

int run_check(const TCheckOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    int errors = 0;
    int warnings = 0;
    for (const TFinding& finding : check_repository(options.directory)) {
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
    command->callback([options, &context] {
        context.action = [options, &console = context.console] {
            return run_check(*options, console);
        };
    });
}

}  // namespace qiv_start::repo
