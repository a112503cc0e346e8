// The "FileVersion" text of a Windows executable's version resource, read from the file itself.
#pragma once

#include <string>

namespace qiv_start::core {

// Raises TError "Nie znaleziono informacji o wersi w pliku" when the file holds no version
// resource (also a missing file or one that is not an executable), and "Błąd przy przetwarzaniu
// informacji o wersji" when the resource lacks the translation, the fixed information or the
// FileVersion text, or is malformed.
std::string get_file_version(const std::string& file_name);

// The same for an executable image held in memory (a whole file or its beginning).
std::string get_version_from_bytes(const std::string& bytes);

}  // namespace qiv_start::core
