// qiv_repo push: the repository copied to its mirrors in the order that keeps every mirror
// whole for the workstations meanwhile: objects, named files, documents, kept releases, and the
// release record last.
#include <functional>

#include "core/support/error.h"
#include "core/support/paths.h"
#include "platform/files.h"
#include "platform/process.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/release_history.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

// The stages of a push: each a set of the folder's top-level entries.
enum class TStage { kObjects, kNamed, kDocuments, kReleases, kRecord };

TStage stage_of(const std::string& top) {
    if (top == "objects")
        return TStage::kObjects;
    if (top == kReleasesFolder)
        return TStage::kReleases;
    if (top == kDocumentName || top == kServerListName)
        return TStage::kDocuments;
    return top == core::kReleaseName ? TStage::kRecord : TStage::kNamed;
}

// host:/path, user@host:path: a colon before any slash, past a drive letter.
bool is_rsync_destination(const std::string& destination) {
    const auto colon = destination.find(':');
    return colon != std::string::npos && colon > 1 && destination.find_first_of("/\\") > colon;
}

// Every file below folder, as a path relative to it in native form; temporary files left by a
// writer are none.
void walk(const std::string& folder, const std::string& relative, std::vector<std::string>& files) {
    for (const std::string& name : platform::list_directory(core::join_path(folder, relative))) {
        const std::string entry = relative.empty() ? name : core::join_path(relative, name);
        const std::string path = core::join_path(folder, entry);
        if (platform::directory_exists(path))
            walk(folder, entry, files);
        else if (platform::file_exists(path) && !platform::is_temporary_name(name))
            files.push_back(entry);
    }
}

std::string top_of(const std::string& relative) {
    return relative.substr(0, relative.find(platform::path_separator()));
}

// Copies one file unless the mirror holds its bytes already; an object, never changed, is
// compared by its size alone.
bool copy_to_folder(const std::string& source, const std::string& target, bool object) {
    if (platform::file_exists(target) &&
        platform::file_size(target) == platform::file_size(source) &&
        (object || platform::read_file(target) == platform::read_file(source)))
        return false;
    const std::string folder = target.substr(0, target.find_last_of(platform::path_separator()));
    if (!platform::create_directories(folder))
        throw core::TError("nie udało się utworzyć katalogu " + folder);
    platform::write_file_atomic(target, platform::read_file(source));
    return true;
}

std::size_t push_to_folder(const std::string& directory, const std::string& destination) {
    std::vector<std::string> files;
    walk(core::native_path(directory), "", files);
    std::size_t copied = 0;
    for (const TStage stage : {TStage::kObjects, TStage::kNamed, TStage::kDocuments,
                               TStage::kReleases, TStage::kRecord}) {
        for (const std::string& file : files) {
            if (stage_of(top_of(file)) != stage)
                continue;
            if (copy_to_folder(repository_path(directory, file), repository_path(destination, file),
                               stage == TStage::kObjects))
                ++copied;
        }
    }
    return copied;
}

// Every file but an object is compared by its bytes: two publishes within one second may leave a
// file of the same size and time, which rsync's quick check would pass over. An object never
// changes, so one that the mirror has is left alone.
void rsync(const std::vector<std::string>& arguments, bool objects = false) {
    std::vector<std::string> words = {"-a", objects ? "--ignore-existing" : "--checksum"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const int code = platform::run_tool("rsync", words);
    if (code != 0)
        throw core::TError("rsync zakończył się kodem " + std::to_string(code));
}

void push_with_rsync(const std::string& directory, std::string destination) {
    if (destination.back() != '/')
        destination += '/';
    const std::string source = directory.back() == '/' ? directory : directory + "/";
    if (platform::directory_exists(repository_path(directory, "objects")))
        rsync({source + "objects/", destination + "objects/"}, true);
    rsync({"--exclude=/objects/", "--exclude=/" + std::string(kReleasesFolder) + "/",
           "--exclude=/" + std::string(kDocumentName), "--exclude=/" + std::string(kServerListName),
           "--exclude=/" + std::string(core::kReleaseName), source, destination});
    rsync({source + kDocumentName, source + kServerListName, destination});
    if (platform::directory_exists(repository_path(directory, kReleasesFolder)))
        rsync({source + kReleasesFolder + "/", destination + kReleasesFolder + "/"});
    if (platform::file_exists(repository_path(directory, core::kReleaseName)))
        rsync({source + core::kReleaseName, destination});
}

}  // namespace

int run_push(const TPushOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    int result = kExitOk;
    for (const std::string& destination : options.destinations) {
        try {
            if (is_rsync_destination(destination)) {
                push_with_rsync(options.directory, destination);
                console.out << destination << ": skopiowano (rsync).\n";
            } else {
                const std::size_t copied = push_to_folder(options.directory, destination);
                console.out << destination << ": skopiowano plików: " << copied << ".\n";
            }
        } catch (const core::TError& failure) {
            console.err << destination << ": nie skopiowano: " << failure.what() << "\n";
            result = kExitProblems;
        }
    }
    if (result != kExitOk || options.url.empty())
        return result;
    return run_verify({options.url, options.ca_file, {}}, console);
}

void add_push_command(TCommandContext& context) {
    auto options = std::make_shared<TPushOptions>();
    CLI::App* command = add_command(
        context.app, "push",
        "Kopiuje repozytorium na każdy serwer (katalog albo cel rsync, np. "
        "host:/srv/www/qiv/): najpierw objects/, potem pliki, dokument i listę serwerów, "
        "releases/, a qiv_start_2.release na końcu. Z --url sprawdza potem serwery jak verify.");
    command->add_option("KATALOG", options->directory, "Katalog repozytorium")
        ->required()
        ->type_name("");
    command->add_option("CEL", options->destinations, "Katalog serwera albo cel rsync; kilka")
        ->required()
        ->type_name("");
    command->add_option("--url", options->url, "Adres repozytorium do sprawdzenia po kopiowaniu")
        ->type_name("ADRES");
    add_ca_file_option(command, options->ca_file);
    run_when_chosen(command, context, options, run_push);
}

}  // namespace qiv_start::repo
