// qiv_repo keygen and sign: the administrator's signing key, and the signed release record that
// launchers built with its public key require beside the document and the server list.
#include <charconv>
#include <limits>
#include <memory>

#include "core/config/release.h"
#include "core/support/error.h"
#include "core/support/signature.h"
#include "platform/files.h"
#include "qiv_repo/check.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/release_check.h"
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

namespace {

// The serial of a folder's first release: the one asked for, or 1 when that is asked for. A
// folder without a release may be a copy that lacks the servers' one, whose workstations would
// refuse a 1 below it: the serial is never guessed.
std::optional<std::uint64_t> first_serial(const std::string& path,
                                          std::optional<std::uint64_t> asked, bool first,
                                          TConsole& console) {
    if (asked || first)
        return asked.value_or(1);
    console.err << "W katalogu nie ma wydania " << path
                << ", więc nie wiadomo, jaki numer ma następne; stacje, które przyjęły wydanie o "
                   "wyższym numerze, odmówiłyby wydania 1. Dla pierwszego wydania repozytorium "
                   "podaj --first; w innym razie skopiuj tu "
                << core::kReleaseName
                << " z serwera albo podaj --serial N, większy niż numer każdego wydania, które "
                   "stacje już widziały.\n";
    return std::nullopt;
}

// The serial of the new release: the one asked for, or one more than the release already in the
// folder, or 1 for a first release asked for. Nothing, with the reason told, when a workstation
// could be led backwards.
std::optional<std::uint64_t> next_serial(const std::string& path, const TSignOptions& options,
                                         std::optional<std::uint64_t> asked,
                                         const core::TRelease& described, TConsole& console) {
    if (!platform::file_exists(path))
        return first_serial(path, asked, options.first, console);
    if (options.first) {
        console.err << "Katalog ma już wydanie " << path
                    << "; --first jest tylko dla pierwszego wydania repozytorium.\n";
        return std::nullopt;
    }
    const auto existing = read_release(path);
    if (!existing) {
        if (!asked) {
            console.err << "Plik " << path
                        << " nie jest wydaniem, więc nie wiadomo, jaki numer ma następne. Podaj "
                           "--serial N, większy niż numer każdego wydania, które stacje już "
                           "widziały.\n";
        }
        return asked;
    }
    const std::uint64_t serial = existing->serial;
    if (!asked) {
        if (serial == std::numeric_limits<std::uint64_t>::max()) {
            console.err << "Wydanie w " << path << " ma największy możliwy numer.\n";
            return std::nullopt;
        }
        return serial + 1;
    }
    // Stations that took the existing release refuse a lower serial, and two different releases
    // under one serial would let a mirror hand out the older one.
    if (*asked < serial || (*asked == serial && (existing->servers != described.servers ||
                                                 existing->document != described.document))) {
        if (*asked < serial) {
            console.err << "Wydanie w " << path << " ma numer " << serial
                        << "; stacje, które je przyjęły, nie przyjmą wydania " << *asked << ".";
        } else {
            console.err << "Wydanie " << serial << " w " << path
                        << " opisuje inne pliki; dwa różne wydania nie mogą mieć jednego numeru.";
        }
        console.err << " Podaj --serial większy niż " << serial << " albo pomiń tę opcję.\n";
        return std::nullopt;
    }
    return asked;
}

// Whether the folder is free of errors that a workstation with keys would trip over; lists them
// otherwise.
bool signable(const std::string& directory, TConsole& console) {
    std::vector<TFinding> errors = check_repository(directory, true);
    std::erase_if(errors, [](const TFinding& f) { return f.severity != TFinding::kError; });
    if (errors.empty())
        return true;
    console.err << "Nie zapisano wydania, bo stacje z kluczami potknęłyby się o te błędy:\n";
    for (const TFinding& finding : errors)
        console.err << "  " << describe(finding) << "\n";
    return false;
}

}  // namespace

int run_sign(const TSignOptions& options, TConsole& console) {
    if (!platform::directory_exists(options.directory)) {
        console.err << "Katalog \"" << options.directory << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    const auto days =
        options.expires_days ? number_in(*options.expires_days, 1, kMaxExpiryDays) : std::nullopt;
    if (options.expires_days && !days) {
        console.err << "--expires podaje liczbę dni ważności wydania, od 1 do " << kMaxExpiryDays
                    << ".\n";
        return kExitWrongUse;
    }
    const auto asked =
        options.serial ? number_in(*options.serial, 1, std::numeric_limits<std::uint64_t>::max())
                       : std::nullopt;
    if (options.serial && !asked) {
        console.err << "--serial podaje numer wydania: liczbę całkowitą od 1.\n";
        return kExitWrongUse;
    }
    if (options.serial && options.first) {
        console.err << "Podaj --first albo --serial, nie obie: --first to wydanie numer 1.\n";
        return kExitWrongUse;
    }
    std::vector<core::TSigningKey> keys;
    for (const std::string& key_file : options.key_files) {
        try {
            keys.push_back(core::TSigningKey::from_pem(platform::read_file(key_file)));
        } catch (const core::TError& failure) {
            console.err << "Nie udało się wczytać klucza prywatnego Ed25519 z \"" << key_file
                        << "\": " << failure.what() << "\n";
            return kExitWrongUse;
        }
    }
    if (!signable(options.directory, console))
        return kExitProblems;

    core::TRelease release;
    release.servers =
        core::describe(platform::read_file(repository_path(options.directory, kServerListName)));
    release.document =
        core::describe(platform::read_file(repository_path(options.directory, kDocumentName)));
    const std::string path = repository_path(options.directory, core::kReleaseName);
    const auto serial = next_serial(path, options, asked, release, console);
    if (!serial)
        return kExitProblems;
    release.serial = *serial;
    if (days)
        release.expires = now_seconds() + static_cast<std::int64_t>(*days) * kSecondsPerDay;
    std::vector<const core::TSigningKey*> signers;
    for (const core::TSigningKey& key : keys)
        signers.push_back(&key);
    try {
        platform::write_file_atomic(path, core::sign_release(release, signers));
    } catch (const core::TError& failure) {
        console.err << "Nie udało się zapisać wydania " << path << ": " << failure.what() << "\n";
        return kExitProblems;
    }
    console.out << "Zapisano wydanie " << release.serial << " ("
                << (release.expires ? "ważne do " + core::utc_text(*release.expires)
                                    : std::string("bez terminu ważności"))
                << ", podpisy: " << keys.size() << ") w " << path << ".\n"
                << "Skopiuj na każdy serwer najpierw pozostałe pliki, a " << core::kReleaseName
                << " na końcu.\n";
    return kExitOk;
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
        "Zapisuje wydanie qiv_start_2.release: numer wydania, termin ważności oraz rozmiar i "
        "SHA-256 plików servers.cfg i qiv_start_2.xml, podpisane kluczem prywatnym. Odmawia, gdy "
        "qiv_repo check znajduje błąd (np. plik bez <sha256> albo suma niezgodna z plikiem). Po "
        "każdej zmianie tych plików podpisz repozytorium od nowa.");
    command->add_option("KATALOG", options->directory, "Katalog repozytorium")
        ->required()
        ->type_name("");
    command
        ->add_option("--key", options->key_files,
                     "Plik klucza prywatnego z qiv_repo keygen; można podać kilka (przy zmianie "
                     "klucza: stary i nowy)")
        ->required()
        ->type_name("PLIK");
    command
        ->add_option_function<std::string>(
            "--expires", [options](const std::string& days) { options->expires_days = days; },
            "Wydanie wygasa po tylu dniach (1-3650); bez tej opcji nie wygasa")
        ->type_name("DNI");
    command
        ->add_option_function<std::string>(
            "--serial", [options](const std::string& serial) { options->serial = serial; },
            "Numer wydania; domyślnie o 1 większy niż numer wydania w katalogu")
        ->type_name("N");
    command->add_flag("--first", options->first,
                      "Pierwsze wydanie repozytorium (numer 1); katalogu bez wydania nie podpisuje "
                      "się bez tej opcji albo --serial");
    run_when_chosen(command, context, options, run_sign);
}

}  // namespace qiv_start::repo
