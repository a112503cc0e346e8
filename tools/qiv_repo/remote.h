// Files fetched from repository servers the way a workstation fetches them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/download/transport_options.h"

namespace qiv_start::repo {

// How far one transfer has come: bytes received and the announced size (-1: not announced).
using TProgress = std::function<void(std::int64_t received, std::int64_t size)>;

struct TFetched {
    bool delivered = false;
    std::int64_t size = 0;
    std::string digest;  // MD5, 32 upper-case hexadecimal digits
    std::string sha256;  // 64 upper-case hexadecimal digits, when asked for
};

// Fetches base + name into memory (server list, document) or nothing when not delivered.
std::optional<std::string> fetch_bytes(const std::string& base, const std::string& name,
                                       const core::TTransportOptions& transport);

// Fetches base + name, hashing the bytes as they arrive without keeping them. progress is called
// on the calling thread about ten times a second.
TFetched fetch_digest(const std::string& base, const std::string& name,
                      const core::TTransportOptions& transport, const TProgress& progress,
                      bool with_sha256 = false);

bool is_address(const std::string& text);

}  // namespace qiv_start::repo
