// The per-user cache of the last configuration that parsed (the value "version_file").
#pragma once

#include <optional>
#include <string>

namespace qiv_start::platform {

// The cached text, or nothing when no cache exists. Raises TIoError when it exists but cannot be
// read.
std::optional<std::string> read_version_file();

// Replaces the cached text atomically. Raises TIoError.
void write_version_file(const std::string& text);

// What a launcher that accepts signed documents only caches instead: the document's exact bytes
// under the same name, and its signature beside them ("version_file.sig").
struct TSignedDocument {
    std::string bytes;
    std::string signature;
};

// Nothing when either part is missing or the document is not kept as bytes. Raises TIoError
// when they exist but cannot be read.
std::optional<TSignedDocument> read_signed_version_file();

// Replaces both parts, the signature first. Raises TIoError.
void write_signed_version_file(const TSignedDocument& document);

}  // namespace qiv_start::platform
