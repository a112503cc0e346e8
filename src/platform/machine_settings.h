// Settings that an administrator gives the whole workstation, e.g. through the launcher's
// installer package or Group Policy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qiv_start::platform {

// The repository's base addresses for a working folder that has no list of servers yet,
// separated by blanks; nothing when none are set. On Windows the string value "servers" under
// HKEY_LOCAL_MACHINE\SOFTWARE\QIV\QIV_START (64-bit view); elsewhere always nothing. Raises
// TIoError when the value exists but cannot be read as text.
std::optional<std::string> read_machine_servers();

// The lowest release serial that every user's working folder is to accept, which a launcher
// installed for the whole workstation gives each user's copy; nothing when none is set. On
// Windows the string value "release_serial" beside "servers", in decimal digits (an empty value
// is none); elsewhere always nothing. Raises TIoError when the value cannot be read as a number.
std::optional<std::uint64_t> read_machine_release_serial();

// True when the administrator lets launchers use a working folder that other users may change,
// as before that was checked. On Windows the DWORD value "shared_folder" under the same key, 1;
// elsewhere the environment variable QIV_START_SHARED_FOLDER, 1 (set for every user, e.g. in
// /etc/environment). Anything else, a value that cannot be read too, counts as not allowed.
bool shared_folder_allowed();

}  // namespace qiv_start::platform
