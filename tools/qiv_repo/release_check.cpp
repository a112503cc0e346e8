#include "qiv_repo/release_check.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "platform/files.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

bool is_public_key(const std::string& key) {
    const auto raw = core::decode_base64(key);
    return raw && raw->size() == 32;
}

// The text of a file that may be a release; "" for one too long to be any.
std::string release_text(const std::string& path) {
    return platform::file_size(path) > static_cast<std::int64_t>(core::kMaxReleaseSize)
               ? std::string()
               : platform::read_file(path);
}

}  // namespace

bool public_keys_valid(const std::vector<std::string>& keys, TConsole& console) {
    if (std::all_of(keys.begin(), keys.end(), is_public_key))
        return true;
    console.err << "Klucz publiczny to 44 znaki base64 (32 bajty), jak wypisuje qiv_repo keygen.\n";
    return false;
}

std::optional<std::uint64_t> number_in(const std::string& text, std::uint64_t low,
                                       std::uint64_t high) {
    std::uint64_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (text.empty() || failure != std::errc() || stop != end || value < low || value > high)
        return std::nullopt;
    return value;
}

std::int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string file_description(const core::TReleaseFile& file) {
    return std::to_string(file.size) + " B, SHA-256 " + file.sha256.substr(0, 12) + "…";
}

std::optional<core::TRelease> read_release(const std::string& path) {
    return core::parse_release(release_text(path));
}

std::vector<TFinding> check_release(const std::string& directory, const core::TTrustedKeys& keys,
                                    std::int64_t now) {
    std::vector<TFinding> findings;
    const auto error = [&](const std::string& text) {
        findings.push_back({TFinding::kError, core::kReleaseName, 0, text});
    };
    const std::string path = repository_path(directory, core::kReleaseName);
    if (!platform::file_exists(path)) {
        error(
            "brak wydania: stacje z kluczami nie przyjmą tego repozytorium (zapisuje je: "
            "qiv_repo sign KATALOG --key PLIK)");
        return findings;
    }
    const std::string text = release_text(path);
    const auto release = core::parse_release(text);
    if (!release) {
        error(
            "plik nie jest wydaniem w formacie, który zapisuje qiv_repo sign; stacje z kluczami "
            "go odrzucą");
        return findings;
    }
    const std::string serial = "wydanie " + std::to_string(release->serial);
    if (!core::verify_release(text, keys)) {
        error(serial +
              " nie ma podpisu, który weryfikuje się którymś z podanych kluczy publicznych; "
              "podpisz repozytorium ponownie (qiv_repo sign)");
    }
    const std::pair<const char*, const core::TReleaseFile*> bound[] = {
        {kServerListName, &release->servers}, {kDocumentName, &release->document}};
    for (const auto& [name, described] : bound) {
        const std::string file = repository_path(directory, name);
        if (!platform::file_exists(file))
            continue;  // the other checks report a missing file
        const core::TReleaseFile actual = core::describe(platform::read_file(file));
        if (actual != *described) {
            error(serial + " nie opisuje bieżącego pliku " + name + " (plik ma " +
                  file_description(actual) + ", wydanie podaje " + file_description(*described) +
                  "): plik zmienił się po podpisaniu; podpisz repozytorium ponownie "
                  "(qiv_repo sign)");
        }
    }
    if (release->expires && *release->expires <= now) {
        error(serial + " wygasło " + core::utc_text(*release->expires) +
              ": stacje z kluczami go nie przyjmą; podpisz repozytorium ponownie (qiv_repo sign "
              "z --expires)");
    }
    return findings;
}

}  // namespace qiv_start::repo
