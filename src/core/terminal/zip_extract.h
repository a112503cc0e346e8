// Extraction of the members of a zip archive that are missing on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qiv_start::core {

// Extracts, in central-directory order, every member of the archive that does not exist yet under
// target_path; existing files are never overwritten. Names are UTF-8 when the entry says so,
// else code page 437; a backslash in a name is a directory separator. Only the stored and
// deflate methods are supported. Raises TError for an archive that cannot be opened or read; for
// a member that would land outside target_path, a symbolic link, too many members or too many
// bytes once unpacked (all before anything is written); for another method; or for a member that
// unpacks past the size the archive records (stopped there and not saved). TIoError for a
// file that cannot be written. The files written are flushed to disk together at the end. Paths
// are in native form.
// Ceilings that keep a hostile archive from filling the disk or the run: far above what a
// terminal's archives hold.
struct TArchiveLimits {
    std::uint64_t max_members = 200000;
    std::uint64_t max_uncompressed_size = std::uint64_t{512} * 1024 * 1024;
};

void extract_missing_members(const std::string& archive_path, const std::string& target_path,
                             const TArchiveLimits& limits = {});

// Everything extract_missing_members checks before it writes, for every member, without writing:
// the archive opens, every name stays inside the target, no member is a symbolic link and every
// file member uses a supported method. Raises TError with the same texts.
void check_archive(const std::string& archive_path);

// The paths that extract_missing_members writes the archive's files to under target_path (native
// form; empty for the working folder). Raises TError as check_archive does.
std::vector<std::string> member_files(const std::string& archive_path,
                                      const std::string& target_path);

}  // namespace qiv_start::core
