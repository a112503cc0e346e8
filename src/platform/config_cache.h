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

}  // namespace qiv_start::platform
