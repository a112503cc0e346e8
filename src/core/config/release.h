// The release record: one signed statement per publish that binds the server list and the
// document to a serial number that only grows and to an expiry, so that a mirror cannot serve an
// older publish, nor pair the files of two publishes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/signature.h"

namespace qiv_start::core {

inline constexpr const char* kReleaseName = "qiv_start_2.release";
// A record is a few hundred bytes; anything much longer is none.
inline constexpr std::size_t kMaxReleaseSize = std::size_t{64} * 1024;

// A file as the release describes it: its exact size and its SHA-256 in lower-case hexadecimal.
struct TReleaseFile {
    std::uint64_t size = 0;
    std::string sha256;

    bool operator==(const TReleaseFile&) const = default;
};

// What a release says. Times are seconds since 1970-01-01 00:00 UTC.
struct TRelease {
    std::uint64_t serial = 0;
    std::optional<std::int64_t> expires;
    TReleaseFile servers;   // servers.cfg
    TReleaseFile document;  // qiv_start_2.xml

    bool operator==(const TRelease&) const = default;
};

// The description of bytes at hand.
TReleaseFile describe(std::string_view bytes);

// The record's text with one signature per key (none without keys). Raises TError when the
// serial is 0.
std::string sign_release(const TRelease& release, const std::vector<const TSigningKey*>& keys);

// The release that the text states, whether signed or not (a record without signature lines
// too); nothing for a text that is not a record in exactly the form that sign_release writes.
std::optional<TRelease> parse_release(std::string_view text);

// The release, when the text is a record with a signature by one of the keys.
std::optional<TRelease> verify_release(std::string_view text, const TTrustedKeys& keys);

// "2027-01-31 12:00 UTC", as messages show a time.
std::string utc_text(std::int64_t seconds);

// Seconds since 1970 for "YYYY-MM-DDTHH:MM:SSZ"; nothing for anything else.
std::optional<std::int64_t> parse_utc(std::string_view text);
std::string format_utc(std::int64_t seconds);

}  // namespace qiv_start::core
