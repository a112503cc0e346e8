// qiv_repo hash: every file's digest written into the document, nothing else of it changed.
#include <algorithm>
#include <map>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/document_editor.h"
#include "qiv_repo/parallel_md5.h"
#include "qiv_repo/path_rules.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

using core::TXMLNode;

// One element whose <hash> gets a file's digest.
struct TTarget {
    TXMLNode element;
    std::string label;  // what the messages call it
    std::string path;   // the file whose digest it gets
    TDocumentEditor::TPlace place;
};

struct TPlan {
    std::vector<TTarget> targets;
    std::vector<std::string> problems;
};

std::string line_label(long line) {
    return "wiersz " + std::to_string(line);
}

void plan_entry(const TFileEntry& entry, const std::string& directory, TPlan& plan) {
    const long line = entry.element.line();
    std::string name;
    try {
        const auto element = find_child(entry.element, "name");
        name = element ? element->get_text() : std::string();
    } catch (const core::TError& failure) {
        plan.problems.push_back(line_label(line) + ": " + failure.what());
        return;
    }
    if (const auto problem = file_name_problem(name)) {
        plan.problems.push_back(line_label(line) + ": nazwa pliku \"" + name + "\" (" +
                                entry.place + ") " + *problem);
        return;
    }
    plan.targets.push_back({entry.element, name + " (" + entry.place + ")",
                            repository_path(directory, name), TDocumentEditor::TPlace::kLast});
}

TPlan plan_targets(const TDocument& document, const THashOptions& options) {
    TPlan plan;
    if (!options.launcher.empty()) {
        plan.targets.push_back({*document.root, "qiv_start_2 (" + options.launcher + ")",
                                options.launcher, TDocumentEditor::TPlace::kFirst});
    }
    for (const TFileEntry& entry : file_entries(*document.root))
        plan_entry(entry, options.directory, plan);
    return plan;
}

// Digests of the targets' files, each file read once.
std::map<std::string, TFileDigest> digests_of(const std::vector<TTarget>& targets, unsigned threads,
                                              bool with_sha256) {
    std::vector<std::string> paths;
    for (const TTarget& target : targets) {
        if (std::find(paths.begin(), paths.end(), target.path) == paths.end())
            paths.push_back(target.path);
    }
    const std::vector<TFileDigest> digests = digest_files(paths, threads, with_sha256);
    std::map<std::string, TFileDigest> result;
    for (std::size_t i = 0; i < paths.size(); ++i)
        result[paths[i]] = digests[i];
    return result;
}

// Records the change of one target's <hash> or <sha256>; returns the message for it, or "" when
// current. A SHA-256 may be written in either letter case.
std::string change_target(const TTarget& target, const std::string& element,
                          const std::string& digest, TDocumentEditor& editor) {
    const auto child = find_child(target.element, element);
    const std::string old_digest = child ? child->get_text() : std::string();
    if (old_digest == digest ||
        (element == "sha256" && core::equals_ignoring_ascii_case(old_digest, digest)))
        return {};
    if (child) {
        editor.set_text(*child, digest);
    } else {
        editor.add_child(target.element, element, digest, target.place);
    }
    return line_label(line_of(target.element, element)) + ": " + target.label +
           (element == "sha256" ? " (SHA-256)" : "") + ": " +
           (old_digest.empty() ? "(brak)" : old_digest) + " -> " + digest;
}

// Whether the target gets a SHA-256: asked for, or already carrying one that must stay right.
bool wants_sha256(const TTarget& target, const THashOptions& options) {
    return options.sha256 || find_child(target.element, "sha256");
}

void report(std::ostream& stream, const std::string& heading,
            const std::vector<std::string>& lines) {
    stream << heading << "\n";
    for (const auto& line : lines)
        stream << "  " << line << "\n";
}

// The new bytes, refused unless they load as the launcher reads them and nothing but the
// digests changed in the way back to bytes.
std::string checked_bytes(const TDocument& document, const std::string& text) {
    if (encode_document(document.text, document.encoding) != document.bytes) {
        throw core::TError(
            "dokument zawiera bajty, których nie da się zapisać z powrotem bez zmian w tym samym "
            "kodowaniu");
    }
    std::string bytes = encode_document(text, document.encoding);
    load_document(bytes, document.encoding.code_page);
    return bytes;
}

int write_changes(const TDocument& document, const TDocumentEditor& editor, const std::string& path,
                  TConsole& console) {
    try {
        platform::write_file_atomic(path, checked_bytes(document, editor.apply()));
    } catch (const core::TError& failure) {
        console.err << "Nie udało się zapisać dokumentu " << path << ": " << failure.what()
                    << "\nDokument pozostał bez zmian.\n";
        return kExitProblems;
    }
    console.out << "Zapisano " << path << ".\n";
    return kExitOk;
}

}  // namespace

int run_hash(const THashOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    if (!options.launcher.empty() && !platform::file_exists(options.launcher)) {
        console.err << "Plik programu \"" << options.launcher << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    const std::string path = repository_path(options.directory, kDocumentName);
    TDocument document;
    try {
        document = load_document(platform::read_file(path), platform::ansi_code_page());
    } catch (const core::TError& failure) {
        console.err << "Dokumentu " << path << " nie da się wczytać tak, jak wczytuje go "
                    << "qiv_start_2: " << failure.what() << "\nDokument pozostał bez zmian.\n";
        return kExitProblems;
    }
    TPlan plan = plan_targets(document, options);
    const bool any_sha256 =
        std::any_of(plan.targets.begin(), plan.targets.end(),
                    [&](const TTarget& target) { return wants_sha256(target, options); });
    const auto digests = digests_of(plan.targets, options.threads, any_sha256);
    TDocumentEditor editor(document.text);
    std::vector<std::string> changes;
    for (const TTarget& target : plan.targets) {
        const TFileDigest& digest = digests.at(target.path);
        try {
            if (digest.digest.empty() && !platform::file_exists(target.path))
                throw core::TError("brak pliku " + target.path);
            if (digest.digest.empty())
                throw core::TError(digest.error);
            if (std::string change = change_target(target, "hash", digest.digest, editor);
                !change.empty())
                changes.push_back(std::move(change));
            if (!wants_sha256(target, options))
                continue;
            if (std::string change = change_target(target, "sha256", digest.sha256, editor);
                !change.empty())
                changes.push_back(std::move(change));
        } catch (const core::TError& failure) {
            plan.problems.push_back(line_label(target.element.line()) + ": " + target.label + ": " +
                                    failure.what());
        }
    }
    if (!plan.problems.empty()) {
        report(console.err, "Nie zapisano dokumentu " + path + ", bo:", plan.problems);
        return kExitProblems;
    }
    if (changes.empty()) {
        console.out << "Wszystkie sumy kontrolne w " << path << " są aktualne.\n";
        return kExitOk;
    }
    report(console.out, "Zmienione sumy kontrolne:", changes);
    if (options.dry_run) {
        console.out << "Próba (--dry-run): dokument nie został zapisany.\n";
        return kExitOk;
    }
    return write_changes(document, editor, path, console);
}

void add_hash_command(TCommandContext& context) {
    auto options = std::make_shared<THashOptions>();
    CLI::App* command = add_command(
        context.app, "hash",
        "Wpisuje do qiv_start_2.xml sumy MD5 plików z katalogu repozytorium (wielkimi literami) "
        "i zapisuje dokument, zachowując komentarze, kolejność, wcięcia i kodowanie.");
    command->add_option("KATALOG", options->directory, "Katalog repozytorium")
        ->required()
        ->type_name("");
    command
        ->add_option("--launcher", options->launcher,
                     "Plik programu qiv_start_2.exe, którego suma trafia do <hash> dokumentu")
        ->type_name("PLIK");
    command->add_flag("--dry-run", options->dry_run, "Tylko pokazuje zmiany, niczego nie zapisuje");
    command->add_flag("--sha256", options->sha256,
                      "Dopisuje też <sha256> do każdego pliku (istniejące odświeża zawsze)");
    run_when_chosen(command, context, options, run_hash);
}

}  // namespace qiv_start::repo
