// qiv_repo publish, history and rollback: releases that the repository keeps, each one's files in
// the store of objects, so that any of them can be served again.
#include <algorithm>
#include <limits>
#include <sstream>

#include "core/support/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qiv_repo/check.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/document_editor.h"
#include "qiv_repo/object_store.h"
#include "qiv_repo/release_check.h"
#include "qiv_repo/release_maker.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

const char* const kStoreValue = "objects/";

bool directory_given(const std::string& directory, TConsole& console) {
    if (platform::directory_exists(directory))
        return true;
    console.err << "Katalog \"" << directory << "\" nie istnieje.\n";
    return false;
}

// The document with <store value="objects/"/> beside its <hash>, unless it has one.
std::string with_store(const std::string& bytes) {
    const TDocument document = load_document(bytes, platform::ansi_code_page());
    if (find_child(*document.root, "store"))
        return bytes;
    const auto children = document.root->child_elements();
    if (children.empty())
        throw core::TError("dokument nie ma elementów");
    const auto hash = find_child(*document.root, "hash");
    TDocumentEditor editor(document.text);
    editor.add_after(hash ? *hash : children.front(), "store", "value", kStoreValue);
    std::string result = encode_document(editor.apply(), document.encoding);
    load_document(result, document.encoding.code_page);
    return result;
}

// The errors that a workstation with keys would trip over; none when the folder is sound.
bool report_errors(const std::string& directory, TConsole& console) {
    std::vector<TFinding> errors = check_repository(directory, true);
    std::erase_if(errors, [](const TFinding& f) { return f.severity != TFinding::kError; });
    for (const TFinding& finding : errors)
        console.err << "  " << describe(finding) << "\n";
    return !errors.empty();
}

// Every named file into the store; the number of objects added.
std::size_t store_files(const std::string& directory, const std::string& document) {
    std::size_t added = 0;
    for (const auto& [name, sha256] : document_contents(document).files) {
        if (store_object(directory, repository_path(directory, name), sha256))
            ++added;
    }
    return added;
}

// The objects of the earlier release whose files changed must still hold their bytes: a named
// file written over in place, instead of replaced, would have changed its object with it.
void check_overwritten(const std::string& directory, const TKeptRelease* earlier,
                       const std::string& document) {
    if (earlier == nullptr)
        return;
    const auto now = document_contents(document).files;
    for (const auto& [name, sha256] : document_contents(earlier->document).files) {
        const auto found = now.find(name);
        const std::string object = object_file(directory, sha256);
        if (found == now.end() || found->second == sha256 || !platform::file_exists(object))
            continue;
        if (file_sha256(object) != sha256) {
            throw core::TError("obiekt " + object + " pliku " + name + " z wydania " +
                               std::to_string(earlier->release.serial) +
                               " ma inne bajty: plik zapisano w miejscu, a to jeden plik pod "
                               "dwiema nazwami; zastępuj pliki (cp --remove-destination, rsync), "
                               "nie nadpisuj ich");
        }
    }
}

// Digests, store element and check, then objects: the document to release. Nothing when the
// folder cannot be published, with the reason told.
std::optional<std::string> prepare(const TPublishOptions& options, const TKeptRelease* earlier,
                                   TConsole& console) {
    std::ostringstream hash_output;
    TConsole quiet{hash_output, console.err, false};
    THashOptions hash{options.directory, options.launcher, false, 0, true};
    if (run_hash(hash, quiet) != kExitOk)
        return std::nullopt;
    const std::string path = repository_path(options.directory, kDocumentName);
    std::string document = platform::read_file(path);
    if (!options.no_store) {
        const std::string stored = with_store(document);
        if (stored != document)
            platform::write_file_atomic(path, stored);
        document = stored;
    }
    if (report_errors(options.directory, console)) {
        console.err << "Nie opublikowano: stacje potknęłyby się o te błędy.\n";
        return std::nullopt;
    }
    check_overwritten(options.directory, earlier, document);
    const std::size_t added = store_files(options.directory, document);
    console.out << "Obiekty: dodano " << added << ".\n";
    return document;
}

}  // namespace

int run_publish(const TPublishOptions& options, TConsole& console) {
    if (!directory_given(options.directory, console))
        return kExitWrongUse;
    const auto signing = read_signing(options.key_files, options.expires_days, console);
    if (!signing)
        return kExitWrongUse;
    const std::string path = repository_path(options.directory, kDocumentName);
    if (!platform::file_exists(path)) {
        console.err << "W katalogu nie ma dokumentu " << path << ".\n";
        return kExitProblems;
    }
    // What the administrator left: a publish that fails puts it back.
    const std::string former = platform::read_file(path);
    try {
        const std::vector<TKeptRelease> history = read_history(options.directory);
        const std::uint64_t serial = next_serial(options.directory, history);
        const TKeptRelease* earlier = history.empty() ? nullptr : &history.back();
        const auto document = prepare(options, earlier, console);
        if (!document)
            throw core::TError("katalog ma błędy");
        const std::string servers =
            platform::read_file(repository_path(options.directory, kServerListName));
        const TKeptRelease kept =
            make_release(options.directory, *document, servers, serial, *signing);
        report_changes(earlier, kept, console);
        report_release(kept, signing->keys.size(), console);
    } catch (const core::TError& failure) {
        if (platform::read_file(path) != former)
            platform::write_file_atomic(path, former);
        console.err << "Nie opublikowano: " << failure.what()
                    << "\nWydanie w katalogu pozostało bez zmian.\n";
        return kExitProblems;
    }
    return kExitOk;
}

int run_history(const THistoryOptions& options, TConsole& console) {
    if (!directory_given(options.directory, console))
        return kExitWrongUse;
    const auto current = read_release(repository_path(options.directory, core::kReleaseName));
    const std::vector<TKeptRelease> history = read_history(options.directory);
    if (history.empty())
        console.out << "Brak zapisanych wydań.\n";
    for (const TKeptRelease& kept : history) {
        std::string versions;
        try {
            versions = terminal_versions(document_contents(kept.document));
        } catch (const core::TError& failure) {
            versions = std::string("dokument nie do odczytania: ") + failure.what();
        }
        console.out << kept.release.serial << "  " << core::utc_text(kept.time) << "  "
                    << (is_signed(kept.record) ? "podpisane  " : "bez podpisu") << "  " << versions
                    << (current && current->serial == kept.release.serial ? "  (bieżące)" : "")
                    << "\n";
    }
    return kExitOk;
}

int run_rollback(const TRollbackOptions& options, TConsole& console) {
    if (!directory_given(options.directory, console))
        return kExitWrongUse;
    const auto signing = read_signing(options.key_files, options.expires_days, console);
    const auto to = number_in(options.to, 1, std::numeric_limits<std::uint64_t>::max());
    if (!signing || !to) {
        if (signing)
            console.err << "--to podaje numer wydania: liczbę całkowitą od 1.\n";
        return kExitWrongUse;
    }
    try {
        const std::vector<TKeptRelease> history = read_history(options.directory);
        const auto found = std::find_if(history.begin(), history.end(), [&](const auto& kept) {
            return kept.release.serial == *to;
        });
        if (found == history.end())
            throw core::TError("w katalogu nie ma zapisanego wydania " + options.to);
        const std::uint64_t serial = next_serial(options.directory, history);
        const auto files = document_contents(found->document).files;
        // Every object is checked before any named copy changes.
        for (const auto& [name, sha256] : files) {
            if (!platform::file_exists(object_file(options.directory, sha256)) ||
                file_sha256(object_file(options.directory, sha256)) != sha256)
                throw core::TError("obiekt pliku " + name + " (" + sha256 +
                                   ") jest niedostępny albo uszkodzony");
        }
        for (const auto& [name, sha256] : files)
            restore_from_object(options.directory, name, sha256);
        const TKeptRelease kept =
            make_release(options.directory, found->document, found->servers, serial, *signing);
        console.out << "Przywrócono pliki wydania " << *to << ".\n";
        report_changes(&history.back(), kept, console);
        report_release(kept, signing->keys.size(), console);
    } catch (const core::TError& failure) {
        console.err << "Nie przywrócono: " << failure.what()
                    << "\nWydanie w katalogu pozostało bez zmian.\n";
        return kExitProblems;
    }
    return kExitOk;
}

namespace {

void add_signing_options(CLI::App* command, std::vector<std::string>& key_files,
                         std::optional<std::string>& expires_days) {
    command
        ->add_option("--key", key_files,
                     "Plik klucza prywatnego z qiv_repo keygen; można podać kilka. Bez klucza "
                     "wydanie zapisuje numer i sumy plików, bez podpisu")
        ->type_name("PLIK");
    command
        ->add_option_function<std::string>(
            "--expires", [&expires_days](const std::string& days) { expires_days = days; },
            "Wydanie wygasa po tylu dniach (1-3650); bez tej opcji nie wygasa")
        ->type_name("DNI");
}

void add_directory(CLI::App* command, std::string& directory) {
    command->add_option("KATALOG", directory, "Katalog repozytorium")->required()->type_name("");
}

}  // namespace

void add_publish_command(TCommandContext& context) {
    auto options = std::make_shared<TPublishOptions>();
    CLI::App* command = add_command(
        context.app, "publish",
        "Publikuje bieżący stan katalogu: sprawdza go jak check, wpisuje sumy MD5 i SHA-256, "
        "dodaje <store value=\"objects/\"/>, umieszcza każdy plik w objects/, zapisuje kopię "
        "wydania w releases/NUMER/ i na końcu qiv_start_2.release z następnym numerem. Wypisuje "
        "zmiany względem poprzedniego wydania. Błąd na dowolnym kroku zostawia poprzednie "
        "wydanie.");
    add_directory(command, options->directory);
    add_signing_options(command, options->key_files, options->expires_days);
    command
        ->add_option("--launcher", options->launcher,
                     "Plik programu qiv_start_2.exe, którego suma trafia do <hash> dokumentu")
        ->type_name("PLIK");
    command->add_flag("--no-store", options->no_store,
                      "Nie dopisuje <store> do dokumentu (stacje pobierają pliki po nazwach)");
    run_when_chosen(command, context, options, run_publish);
}

void add_history_command(TCommandContext& context) {
    auto options = std::make_shared<THistoryOptions>();
    CLI::App* command = add_command(
        context.app, "history",
        "Wypisuje zapisane wydania, po jednym w wierszu: numer, czas, podpis, wersje terminali.");
    add_directory(command, options->directory);
    run_when_chosen(command, context, options, run_history);
}

void add_rollback_command(TCommandContext& context) {
    auto options = std::make_shared<TRollbackOptions>();
    CLI::App* command = add_command(
        context.app, "rollback",
        "Zapisuje nowe wydanie (z numerem wyższym niż każde wcześniejsze) z dokumentem i listą "
        "serwerów wydania NUMER; pliki pod nazwami wracają z objects/.");
    add_directory(command, options->directory);
    command->add_option("--to", options->to, "Numer wydania, do którego wraca repozytorium")
        ->required()
        ->type_name("NUMER");
    add_signing_options(command, options->key_files, options->expires_days);
    run_when_chosen(command, context, options, run_rollback);
}

}  // namespace qiv_start::repo
