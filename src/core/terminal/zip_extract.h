// Extraction of the members of a zip archive that are missing on disk.
#pragma once

#include <string>

namespace qiv_start::core {

// Extracts, in central-directory order, every member of the archive that does not exist yet under
// target_path; existing files are never overwritten. Names are UTF-8 when the entry says so,
// else code page 437; a backslash in a name is a directory separator. Only the stored and
// deflate methods are supported. Raises TError for an archive that cannot be opened or read, a
// member that would land outside target_path or a symbolic link (both before anything is written),
// or another method; TIoError for a file that cannot be written. Paths are in native form.
void extract_missing_members(const std::string& archive_path, const std::string& target_path);

// Everything extract_missing_members checks before it writes, for every member, without writing:
// the archive opens, every name stays inside the target, no member is a symbolic link and every
// file member uses a supported method. Raises TError with the same texts.
void check_archive(const std::string& archive_path);

}  // namespace qiv_start::core
