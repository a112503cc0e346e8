// The folders of a launcher that its users cannot change: whether the running user may write a
// folder, and the user's own working folder, where the user's copy of the launcher runs.
#pragma once

#include <string>

namespace qiv_start::platform {

// True when this process may create files in the folder. POSIX asks access() for the effective
// ids; Windows asks AccessCheck whether the process's token may add a file under the folder's
// security descriptor, which leaves nothing behind and honours a token whose administrators'
// group is for denial only. False also when the folder cannot be examined.
bool can_write_folder(const std::string& folder);

// The user's own working folder: %LOCALAPPDATA%\QIV\qiv_start_2 on Windows, elsewhere
// $XDG_DATA_HOME/qiv_start_2, else ~/.local/share/qiv_start_2. Raises TIoError when the system
// names no such place.
std::string user_working_folder();

// Creates the folder, and its missing parents, for the user alone. POSIX: mode 0700, and a folder
// that is there already must be a directory (not a link) of the user's own, which loses any access
// for others. Windows: the folder takes what the user's own profile passes on. Raises TIoError.
void create_private_folder(const std::string& path);

}  // namespace qiv_start::platform
