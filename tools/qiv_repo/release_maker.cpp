#include "qiv_repo/release_maker.h"

#include <algorithm>
#include <limits>

#include "core/config/release.h"
#include "core/support/error.h"
#include "platform/files.h"
#include "qiv_repo/release_check.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

// The file's bytes, or nothing when there is no file.
std::optional<std::string> bytes_of(const std::string& path) {
    return platform::file_exists(path) ? std::optional(platform::read_file(path)) : std::nullopt;
}

void write_if_changed(const std::string& path, const std::string& bytes) {
    if (bytes_of(path) != bytes)
        platform::write_file_atomic(path, bytes);
}

void put_back(const std::string& path, const std::optional<std::string>& bytes) {
    try {
        if (bytes)
            write_if_changed(path, *bytes);
    } catch (const core::TError&) {
        // the failure that brought us here is the one to report
    }
}

}  // namespace

std::optional<TSigning> read_signing(const std::vector<std::string>& key_files,
                                     const std::optional<std::string>& expires_days,
                                     TConsole& console) {
    TSigning signing;
    if (expires_days) {
        signing.days = number_in(*expires_days, 1, kMaxExpiryDays);
        if (!signing.days) {
            console.err << "--expires podaje liczbę dni ważności wydania, od 1 do "
                        << kMaxExpiryDays << ".\n";
            return std::nullopt;
        }
    }
    for (const std::string& key_file : key_files) {
        try {
            signing.keys.push_back(core::TSigningKey::from_pem(platform::read_file(key_file)));
        } catch (const core::TError& failure) {
            console.err << "Nie udało się wczytać klucza prywatnego Ed25519 z \"" << key_file
                        << "\": " << failure.what() << "\n";
            return std::nullopt;
        }
    }
    return signing;
}

std::uint64_t next_serial(const std::string& directory, const std::vector<TKeptRelease>& history) {
    std::uint64_t highest = history.empty() ? 0 : history.back().release.serial;
    const std::string path = repository_path(directory, core::kReleaseName);
    if (platform::file_exists(path)) {
        const auto current = read_release(path);
        if (!current) {
            throw core::TError("plik " + path +
                               " nie jest wydaniem, więc nie wiadomo, jaki numer ma następne");
        }
        highest = std::max(highest, current->serial);
    }
    if (highest == std::numeric_limits<std::uint64_t>::max())
        throw core::TError("wydanie ma już największy możliwy numer");
    return highest + 1;
}

TKeptRelease make_release(const std::string& directory, const std::string& document,
                          const std::string& servers, std::uint64_t serial,
                          const TSigning& signing) {
    TKeptRelease kept;
    kept.release = {serial, std::nullopt, core::describe(servers), core::describe(document)};
    kept.time = now_seconds();
    if (signing.days)
        kept.release.expires =
            kept.time + static_cast<std::int64_t>(*signing.days) * kSecondsPerDay;
    std::vector<const core::TSigningKey*> signers;
    for (const core::TSigningKey& key : signing.keys)
        signers.push_back(&key);
    kept.record = core::sign_release(kept.release, signers);
    kept.document = document;
    kept.servers = servers;
    keep_release(directory, kept);

    const std::string document_path = repository_path(directory, kDocumentName);
    const std::string servers_path = repository_path(directory, kServerListName);
    const auto former_document = bytes_of(document_path);
    const auto former_servers = bytes_of(servers_path);
    try {
        write_if_changed(servers_path, servers);
        write_if_changed(document_path, document);
        platform::write_file_atomic(repository_path(directory, core::kReleaseName), kept.record);
    } catch (const core::TError&) {
        put_back(document_path, former_document);
        put_back(servers_path, former_servers);
        throw;
    }
    return kept;
}

void report_changes(const TKeptRelease* earlier, const TKeptRelease& release, TConsole& console) {
    const TDocumentContents now = document_contents(release.document);
    const TDocumentContents before =
        earlier ? document_contents(earlier->document) : TDocumentContents{};
    console.out << "Zmiany względem "
                << (earlier ? "wydania " + std::to_string(earlier->release.serial)
                            : std::string("pustego repozytorium"))
                << ":\n";
    std::size_t changes = 0;
    const auto line = [&](const char* what, const std::string& name) {
        console.out << "  " << what << " " << name << "\n";
        ++changes;
    };
    for (const auto& [name, sha256] : now.files) {
        const auto found = before.files.find(name);
        if (found == before.files.end())
            line("dodany:   ", name);
        else if (found->second != sha256)
            line("zmieniony:", name);
    }
    for (const auto& [name, sha256] : before.files) {
        if (!now.files.count(name))
            line("usunięty: ", name);
    }
    if (release.servers != (earlier ? earlier->servers : std::string()))
        line("zmieniony:", kServerListName);
    if (changes == 0)
        console.out << "  pliki bez zmian\n";
    console.out << "  terminale: " << terminal_versions(now);
    if (earlier && terminal_versions(before) != terminal_versions(now))
        console.out << " (było: " << terminal_versions(before) << ")";
    console.out << "\n";
}

void report_release(const TKeptRelease& release, std::size_t signatures, TConsole& console) {
    console.out << "Zapisano wydanie " << release.release.serial << " ("
                << (release.release.expires ? "ważne do " + core::utc_text(*release.release.expires)
                                            : std::string("bez terminu ważności"))
                << ", "
                << (signatures == 0 ? std::string("bez podpisu")
                                    : "podpisy: " + std::to_string(signatures))
                << ").\n";
}

}  // namespace qiv_start::repo
