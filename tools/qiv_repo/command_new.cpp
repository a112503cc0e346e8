// qiv_repo new: a repository folder to start from.
#include <filesystem>

#include "core/support/error.h"
#include "platform/files.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/document_editor.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

const char* const kDocumentTemplate =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\" prog_version=\"2.0\">\r\n"
    "  <!-- Suma MD5 programu qiv_start_2.exe, wielkimi literami; wpisuje ją polecenie "
    "qiv_repo hash z opcją launcher -->\r\n"
    "  <hash></hash>\r\n"
    "  <!-- Każde uruchomienie zgłasza swój wynik jednym zapytaniem o ten plik (dziennik serwera) "
    "-->\r\n"
    "  <report value=\"qiv_start_2.report\"/>\r\n"
    "  <admin_email></admin_email>\r\n"
    "  <link>@LINK@</link>\r\n"
    "  <!-- Kolory: nazwa (clNavy, clBtnFace, ...) albo liczba $00BBGGRR -->\r\n"
    "  <clForm value=\"clBtnFace\"/>\r\n"
    "  <clBtnNormal value=\"$00F0E6DC\"/>\r\n"
    "  <clBtnHighlight value=\"$00C8E6FF\"/>\r\n"
    "  <clBtnFrame value=\"clNavy\"/>\r\n"
    "  <clBtnText value=\"clBlack\"/>\r\n"
    "  <clText value=\"clWindowText\"/>\r\n"
    "  <clLink value=\"clBlue\"/>\r\n"
    "  <!-- Rozmiary w pikselach -->\r\n"
    "  <btnWidth value=\"400\"/>\r\n"
    "  <btnHeight value=\"40\"/>\r\n"
    "  <btnRowLength value=\"1\"/>\r\n"
    "  <topMargin value=\"20\"/>\r\n"
    "  <margin value=\"10\"/>\r\n"
    "  <textSize value=\"10\"/>\r\n"
    "  <btnTextSize value=\"12\"/>\r\n"
    "  <!-- Tu opisz sieci (network), terminale (terminal), biblioteki (dll) i pliki wspólne "
    "(default_file). -->\r\n"
    "</qiv_start>\r\n";

const char* const kDownloadPage =
    "<!DOCTYPE html>\r\n"
    "<html lang=\"pl\">\r\n"
    "<meta charset=\"utf-8\">\r\n"
    "<title>qiv_start_2</title>\r\n"
    "<h1>qiv_start_2</h1>\r\n"
    "<p>Ta stacja ma nieaktualną wersję programu qiv_start_2. "
    "<a href=\"qiv_start_2.exe\">Pobierz aktualną wersję</a> "
    "i zastąp nią dotychczasowy plik.</p>\r\n"
    "</html>\r\n";

std::string document_for(const std::string& first_server) {
    std::string text = kDocumentTemplate;
    const std::string marker = "@LINK@";
    text.replace(text.find(marker), marker.size(),
                 escape_xml_text(first_server + kDownloadPageName));
    return text;
}

bool is_empty_or_missing(const std::string& directory) {
    namespace fs = std::filesystem;
    const fs::path path(std::u8string(directory.begin(), directory.end()));
    std::error_code failure;
    return !fs::exists(path, failure) ||
           (fs::is_directory(path, failure) && fs::is_empty(path, failure));
}

}  // namespace

int run_new(const TNewOptions& options, TConsole& console) {
    for (const auto& server : options.servers) {
        if (!is_base_address(server)) {
            console.err << "Adres serwera \"" << server
                        << "\" musi zaczynać się od http:// albo https:// i kończyć ukośnikiem "
                           "\"/\".\n";
            return kExitWrongUse;
        }
    }
    if (!is_empty_or_missing(options.directory)) {
        console.err << "Katalog \"" << options.directory
                    << "\" nie jest pusty; nowe repozytorium powstaje tylko w pustym katalogu.\n";
        return kExitProblems;
    }
    std::string servers;
    for (const auto& server : options.servers)
        servers += server + "\r\n";
    try {
        if (!platform::create_directories(options.directory))
            throw core::TError("Nie można utworzyć katalogu \"" + options.directory + "\".");
        platform::write_file_atomic(repository_path(options.directory, kServerListName), servers);
        platform::write_file_atomic(repository_path(options.directory, kDocumentName),
                                    document_for(options.servers.front()));
        platform::write_file_atomic(repository_path(options.directory, kDownloadPageName),
                                    kDownloadPage);
        platform::write_file_atomic(repository_path(options.directory, kReportName), "");
    } catch (const core::TError& failure) {
        console.err << failure.what() << "\n";
        return kExitProblems;
    }
    console.out << "Utworzono repozytorium w " << options.directory << ": " << kServerListName
                << ", " << kDocumentName << ", " << kDownloadPageName << ", " << kReportName
                << ".\n"
                << "Dalej: skopiuj do katalogu pliki terminali i qiv_start_2.exe, opisz je w "
                << kDocumentName << ", potem uruchom\n"
                << "  qiv_repo hash " << options.directory << " --launcher qiv_start_2.exe\n"
                << "  qiv_repo check " << options.directory << "\n";
    return kExitOk;
}

void add_new_command(TCommandContext& context) {
    auto options = std::make_shared<TNewOptions>();
    CLI::App* command = add_command(
        context.app, "new",
        "Tworzy nowe repozytorium w pustym katalogu: servers.cfg, qiv_start_2.xml (UTF-8 z BOM, "
        "bez terminali) stronę pobierania index.html i pusty plik raportów qiv_start_2.report.");
    command->add_option("KATALOG", options->directory, "Katalog nowego repozytorium")
        ->required()
        ->type_name("");
    command
        ->add_option("--server", options->servers,
                     "Adres bazowy serwera, zakończony ukośnikiem; można podać kilka")
        ->required()
        ->type_name("URL");
    run_when_chosen(command, context, options, run_new);
}

}  // namespace qiv_start::repo
