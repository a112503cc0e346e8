// A new release of a repository that keeps its history: the serial above every earlier one, the
// release kept under releases/, then the folder's server list and document, its record last.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/support/signature.h"
#include "qiv_repo/console.h"
#include "qiv_repo/release_history.h"

namespace qiv_start::repo {

// The keys to sign with (none: an unsigned record) and the days until the release expires.
struct TSigning {
    std::vector<core::TSigningKey> keys;
    std::optional<std::uint64_t> days;
};

// Reads the keys and the expiry of the command line; nothing, with the reason told, for a key
// that does not load or days out of range.
std::optional<TSigning> read_signing(const std::vector<std::string>& key_files,
                                     const std::optional<std::string>& expires_days,
                                     TConsole& console);

// One above the folder's release and every kept one; 1 for a folder with neither. Raises TError
// for a record that is no release, whose serial cannot be known.
std::uint64_t next_serial(const std::string& directory, const std::vector<TKeptRelease>& history);

// Keeps the release of these two files under the serial, then writes them into the folder and
// the record last. A failure puts back the folder's former server list and document and raises
// TError: its release stays in force. Returns what was kept.
TKeptRelease make_release(const std::string& directory, const std::string& document,
                          const std::string& servers, std::uint64_t serial,
                          const TSigning& signing);

// What changed from the earlier release to the new one: files added, changed and removed, and
// the terminals' versions.
void report_changes(const TKeptRelease* earlier, const TKeptRelease& release, TConsole& console);

// "Zapisano wydanie 3 (podpisy: 1, ważne do ...)."
void report_release(const TKeptRelease& release, std::size_t signatures, TConsole& console);

}  // namespace qiv_start::repo
