// qiv_repo gc: the objects that no release kept in view names any more go.
#include <set>

#include "core/support/error.h"
#include "platform/files.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/object_store.h"
#include "qiv_repo/release_check.h"
#include "qiv_repo/release_history.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

void add_files(std::set<std::string>& needed, const std::string& document) {
    for (const auto& [name, sha256] : document_contents(document).files)
        needed.insert(sha256);
}

// The objects of the last keep releases, of the folder's current release and of its document.
std::set<std::string> needed_objects(const std::string& directory, std::size_t keep) {
    const std::vector<TKeptRelease> history = read_history(directory);
    const auto current = read_release(repository_path(directory, core::kReleaseName));
    std::set<std::string> needed;
    for (std::size_t i = 0; i < history.size(); ++i) {
        if (i + keep >= history.size() || (current && history[i].release.serial == current->serial))
            add_files(needed, history[i].document);
    }
    const std::string document = repository_path(directory, kDocumentName);
    if (platform::file_exists(document))
        add_files(needed, platform::read_file(document));
    return needed;
}

}  // namespace

int run_gc(const TGcOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    const auto keep = number_in(options.keep, 1, 1000000);
    if (!keep) {
        console.err << "--keep podaje, ile ostatnich wydań zachować: liczbę od 1.\n";
        return kExitWrongUse;
    }
    std::size_t removed = 0;
    try {
        const std::set<std::string> needed = needed_objects(options.directory, *keep);
        for (const std::string& sha256 : stored_objects(options.directory)) {
            if (needed.count(sha256))
                continue;
            const std::string path = object_file(options.directory, sha256);
            if (!options.dry_run)
                platform::delete_file(path);
            console.out << (options.dry_run ? "do usunięcia: " : "usunięto: ") << path << "\n";
            ++removed;
        }
    } catch (const core::TError& failure) {
        console.err << "Nie dokończono sprzątania: " << failure.what() << "\n";
        return kExitProblems;
    }
    console.out << (options.dry_run ? "Próba (--dry-run): do usunięcia " : "Usunięto ") << removed
                << " obiektów.\n";
    return kExitOk;
}

void add_gc_command(TCommandContext& context) {
    auto options = std::make_shared<TGcOptions>();
    CLI::App* command = add_command(
        context.app, "gc",
        "Usuwa z objects/ obiekty, których nie wymienia żadne z N ostatnich wydań; nigdy tych, "
        "których potrzebuje bieżące wydanie.");
    command->add_option("KATALOG", options->directory, "Katalog repozytorium")
        ->required()
        ->type_name("");
    command->add_option("--keep", options->keep, "Ile ostatnich wydań zachować")
        ->required()
        ->type_name("N");
    command->add_flag("--dry-run", options->dry_run, "Tylko wypisuje obiekty, niczego nie usuwa");
    run_when_chosen(command, context, options, run_gc);
}

}  // namespace qiv_start::repo
