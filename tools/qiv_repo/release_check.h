// The release record as the tool checks it: signed by a trusted key, describing the files beside
// it, not expired.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/config/release.h"
#include "core/support/signature.h"
#include "qiv_repo/check.h"
#include "qiv_repo/console.h"

namespace qiv_start::repo {

// Whether every key has the form that keygen prints (the base64 of 32 bytes); says so otherwise.
bool public_keys_valid(const std::vector<std::string>& keys, TConsole& console);

// Ten years: long enough for any publishing rhythm, and the time written always reads back.
inline constexpr std::uint64_t kMaxExpiryDays = 3650;
inline constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;

// A decimal number of the command line within [low, high]; nothing for anything else.
std::optional<std::uint64_t> number_in(const std::string& text, std::uint64_t low,
                                       std::uint64_t high);

// Seconds since 1970 UTC by this machine's clock.
std::int64_t now_seconds();

// "120 B, SHA-256 0123456789ab…": enough of the digest to tell two versions apart.
std::string file_description(const core::TReleaseFile& file);

// The release in the file's text, when it is a record in the form that sign writes.
std::optional<core::TRelease> read_release(const std::string& path);

// The findings about the folder's release: missing, not a record, signed by none of the keys,
// describing other bytes than the server list and the document beside it, or expired at now.
std::vector<TFinding> check_release(const std::string& directory, const core::TTrustedKeys& keys,
                                    std::int64_t now);

}  // namespace qiv_start::repo
