// The per-user cache of the last configuration that parsed (the value "version_file").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qiv_start::platform {

// The cached text, or nothing when no cache exists. Raises TIoError when it exists but cannot be
// read.
std::optional<std::string> read_version_file();

// Replaces the cached text atomically. Raises TIoError.
void write_version_file(const std::string& text);

// What a launcher that accepts signed releases only caches instead: the document's exact bytes
// with the release record that vouches for them, kept together ("version_file.signed").
struct TSignedDocument {
    std::string bytes;
    std::string release;

    bool operator==(const TSignedDocument&) const = default;
};

// Nothing when there is none, or what is stored is not a document with its release; earlier
// versions kept the two apart ("version_file.release" beside "version_file"), and such a pair
// is read while nothing newer is stored. Raises TIoError when it exists but cannot be read.
std::optional<TSignedDocument> read_signed_version_file();

// Replaces both together in one step: a kill at any moment leaves the former pair or the new
// one. Raises TIoError.
void write_signed_version_file(const TSignedDocument& document);

// The highest release serial this workstation has accepted, beside the cache; 0 when none is
// stored. Raises TIoError when one is stored but cannot be read as a number.
std::uint64_t read_release_serial();

// Replaces it in one step: a kill at any moment leaves the old number or the new one.
void write_release_serial(std::uint64_t serial);

// The workstation's own random identifier, 32 lower-case hexadecimal digits, kept beside the
// cache: made once, and made anew under another host name, so that tills cloned from one disk
// do not share it. Raises TIoError when it cannot be kept.
std::string workstation_id(const std::string& host);

// The number of the next run report: one more than the last one's, kept at once. Raises TIoError.
std::uint64_t next_report_sequence();

// The run reports that have not reached a server yet, oldest first, one query each.
std::vector<std::string> read_unsent_reports();
// Keeps the last kMaxUnsentReports of them in one step. Raises TIoError.
void write_unsent_reports(const std::vector<std::string>& queries);
inline constexpr std::size_t kMaxUnsentReports = 20;

}  // namespace qiv_start::platform
