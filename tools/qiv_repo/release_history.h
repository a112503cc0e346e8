// The releases a repository keeps: each one's document, server list and record under
// releases/SERIAL/, with the time it was made, and what a document names.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/config/release.h"

namespace qiv_start::repo {

inline constexpr const char* kReleasesFolder = "releases";

// One kept release.
struct TKeptRelease {
    core::TRelease release;
    std::string record;  // the record's text, as written
    std::string document;
    std::string servers;
    std::int64_t time = 0;  // when it was made, seconds since 1970 UTC
};

// Every complete release kept in the folder, by rising serial. A folder that a failed publish
// left without its record, or whose files are not those its record describes, is none.
std::vector<TKeptRelease> read_history(const std::string& directory);

// Keeps the release: its files first, its record last, each through the atomic writer. Raises
// TError.
void keep_release(const std::string& directory, const TKeptRelease& kept);

// Whether the record carries any signature.
bool is_signed(const std::string& record);

// What a document names: each file's name with its SHA-256 in lower case (empty when it has
// none), and each terminal's code with its version. Raises TError for a document the launcher
// refuses.
struct TDocumentContents {
    std::map<std::string, std::string> files;
    std::vector<std::pair<std::string, std::string>> terminals;
};
TDocumentContents document_contents(const std::string& bytes);

// "KASA 1.2, MAGAZYN 1.0" ("-" for a document without terminals).
std::string terminal_versions(const TDocumentContents& contents);

}  // namespace qiv_start::repo
