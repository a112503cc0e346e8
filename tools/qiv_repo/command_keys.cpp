// qiv_repo keygen and sign: the administrator's signing key, and the signatures that launchers
// built with its public key require beside the document and the server list.
#include <memory>

#include "core/support/error.h"
#include "core/support/signature.h"
#include "platform/files.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {

int run_keygen(const TKeygenOptions& options, TConsole& console) {
    if (platform::file_exists(options.key_file) || platform::directory_exists(options.key_file)) {
        console.err << "Plik \"" << options.key_file << "\" już istnieje; klucza nie nadpisano.\n";
        return kExitWrongUse;
    }
    const core::TSigningKey key = core::TSigningKey::generate();
    try {
        platform::write_file_atomic(options.key_file, key.to_pem(),
                                    platform::TFileAccess::kOwnerOnly);
    } catch (const core::TError& failure) {
        console.err << "Nie udało się zapisać klucza: " << failure.what() << "\n";
        return kExitProblems;
    }
    console.out << "Zapisano klucz prywatny w " << options.key_file
                << " (dostęp tylko dla właściciela; chroń go i nie umieszczaj na serwerach).\n"
                << "Klucz publiczny do QIV_TRUSTED_KEYS:\n"
                << key.public_key() << "\n";
    return kExitOk;
}

int run_sign(const TSignOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    std::optional<core::TSigningKey> key;
    try {
        key = core::TSigningKey::from_pem(platform::read_file(options.key_file));
    } catch (const core::TError& failure) {
        console.err << "Nie udało się wczytać klucza prywatnego Ed25519 z \"" << options.key_file
                    << "\": " << failure.what() << "\n";
        return kExitWrongUse;
    }
    int result = kExitOk;
    for (const char* name : kSignedNames) {
        const std::string path = repository_path(options.directory, name);
        try {
            const std::string signature_path = path + kSignatureSuffix;
            platform::write_file_atomic(signature_path,
                                        key->sign(platform::read_file(path)) + "\n");
            console.out << "Podpisano " << name << " (" << signature_path << ").\n";
        } catch (const core::TError& failure) {
            console.err << "Nie podpisano " << name << ": " << failure.what() << "\n";
            result = kExitProblems;
        }
    }
    return result;
}

void add_keygen_command(TCommandContext& context) {
    auto options = std::make_shared<TKeygenOptions>();
    CLI::App* command =
        add_command(context.app, "keygen",
                    "Tworzy klucz do podpisywania repozytorium: zapisuje klucz prywatny (tylko dla "
                    "właściciela) i wypisuje klucz publiczny do QIV_TRUSTED_KEYS.");
    command
        ->add_option("PLIK_KLUCZA", options->key_file, "Plik klucza prywatnego (nie może istnieć)")
        ->required()
        ->type_name("");
    run_when_chosen(command, context, options, run_keygen);
}

void add_sign_command(TCommandContext& context) {
    auto options = std::make_shared<TSignOptions>();
    CLI::App* command = add_command(
        context.app, "sign",
        "Podpisuje qiv_start_2.xml i servers.cfg kluczem prywatnym: zapisuje obok nich "
        "qiv_start_2.xml.sig i servers.cfg.sig. Po każdej zmianie tych plików podpisz je od nowa.");
    command->add_option("KATALOG", options->directory, "Katalog repozytorium")
        ->required()
        ->type_name("");
    command->add_option("--key", options->key_file, "Plik klucza prywatnego z qiv_repo keygen")
        ->required()
        ->type_name("PLIK");
    run_when_chosen(command, context, options, run_sign);
}

}  // namespace qiv_start::repo
