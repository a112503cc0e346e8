#include "qiv_repo/cli.h"

#include <memory>

namespace qiv_start::repo {
namespace {

const char* const kDescription =
    "qiv_repo: narzędzie administratora repozytorium programu qiv_start_2. Tworzy "
    "repozytorium, wpisuje sumy kontrolne plików, sprawdza je, podpisuje, publikuje wydania z "
    "historią, kopiuje je na serwery i porównuje serwery.";
const char* const kFooter =
    "Kody wyjścia: 0 wszystko w porządku, 1 znaleziono problemy, 2 błędne wywołanie.\n"
    "Pomoc do polecenia: qiv_repo POLECENIE --help";

void translate_help(CLI::App& app) {
    auto formatter = app.get_formatter();
    formatter->label("Usage", "Użycie");
    formatter->label("OPTIONS", "OPCJE");
    formatter->label("SUBCOMMAND", "POLECENIE");
    formatter->label("SUBCOMMANDS", "POLECENIA");
    formatter->label("Positionals", "Argumenty");
    formatter->label("REQUIRED", "WYMAGANE");
    formatter->label("TEXT", "TEKST");
    formatter->column_width(28);
    app.option_defaults()->group("Opcje");
    app.set_help_flag("-h,--help", "Pokazuje tę pomoc");
}

// The part of CLI11's English message that names what was wrong: an option or the arguments.
std::string named_part(const std::string& message, const std::string& before,
                       const std::string& after) {
    const auto begin = message.find(before);
    if (begin == std::string::npos)
        return {};
    const auto start = begin + before.size();
    const auto end = after.empty() ? std::string::npos : message.find(after, start);
    return message.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string polish_message(const CLI::ParseError& failure) {
    const std::string message = failure.what();
    if (dynamic_cast<const CLI::RequiredError*>(&failure)) {
        if (message.find("subcommand") != std::string::npos)
            return "podaj polecenie: new, hash, check, verify, access, keygen, sign, publish, "
                   "push, history, rollback, gc albo status";
        return "brak wymaganego argumentu " + named_part(message, "", " is required");
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&failure))
        return "nieoczekiwane argumenty: " + named_part(message, ": ", "");
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&failure))
        return "opcja wymaga wartości: " + named_part(message, "", ":");
    return "nieprawidłowe argumenty";
}

}  // namespace

CLI::App* add_command(CLI::App& app, const std::string& name, const std::string& description) {
    CLI::App* command = app.add_subcommand(name, description);
    command->group("Polecenia");
    command->get_help_ptr()->group("Opcje");
    return command;
}

void add_ca_file_option(CLI::App* command, std::string& ca_file) {
    command
        ->add_option("--ca-file", ca_file,
                     "Plik PEM z zaufanymi urzędami certyfikacji zamiast systemowych")
        ->type_name("PLIK");
}

const std::vector<TCommandAdder>& command_adders() {
    static const std::vector<TCommandAdder> adders = {
        add_new_command,    add_hash_command,    add_check_command,    add_verify_command,
        add_access_command, add_keygen_command,  add_sign_command,     add_publish_command,
        add_push_command,   add_history_command, add_rollback_command, add_gc_command,
        add_status_command};
    return adders;
}

int run_cli(const std::vector<std::string>& arguments, TConsole& console) {
    CLI::App app(kDescription, "qiv_repo");
    translate_help(app);
    app.footer(kFooter);
    app.require_subcommand(1);
    std::function<int()> action;
    TCommandContext context{app, console, action};
    for (const TCommandAdder add : command_adders())
        add(context);

    std::vector<const char*> argv = {"qiv_repo"};
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        const auto chosen = app.get_subcommands();
        // A command's help names the command itself after the program's name.
        console.out << (chosen.empty() ? app.help() : chosen.front()->help("qiv_repo"));
        return kExitOk;
    } catch (const CLI::ParseError& failure) {
        console.err << "Błędne wywołanie: " << polish_message(failure)
                    << ". Składnia: qiv_repo --help\n";
        return kExitWrongUse;
    }
    return action ? action() : kExitWrongUse;
}

}  // namespace qiv_start::repo
