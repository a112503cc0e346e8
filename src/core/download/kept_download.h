// The temporary file of an interrupted download, kept for a later attempt to go on from, and the
// record beside it that names the copy it holds the beginning of.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "core/support/stream.h"

namespace qiv_start::core {

// How long a kept download waits for the next attempt, counted from the last one that added to
// it; the sweep of leftovers removes older ones.
inline constexpr std::chrono::hours kKeptDownloadLifetime{72};

struct TKeptDownload {
    std::string temporary;  // the atomic writer's temporary file, native path
    TResumeMark mark;
};

// The record beside a temporary file: its name plus ".resume".
std::string kept_record_path(const std::string& temporary);
// True when candidate is the name of a record beside some temporary file.
bool is_kept_record_name(const std::string& candidate);

// Writes the record, stamped with the time. Raises TIoError.
void write_kept_record(const std::string& temporary, const TResumeMark& mark);
// Removes the record when there is one. Never raises.
void remove_kept_record(const std::string& temporary) noexcept;
// The record's mark when it reads and is younger than the lifetime; nothing otherwise.
std::optional<TResumeMark> read_kept_record(const std::string& temporary);

// Among the temporary files beside the file at path that have a fresh record and hold part of
// their copy, the one that holds most; nothing when there is none.
std::optional<TKeptDownload> find_kept_download(const std::string& path);

}  // namespace qiv_start::core
