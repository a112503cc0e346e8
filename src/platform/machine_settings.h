// Settings that an administrator gives the whole workstation, e.g. through the launcher's
// installer package or Group Policy.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::platform {

// The repository's base addresses for a working folder that has no list of servers yet,
// separated by blanks; nothing when none are set. On Windows the string value "servers" under
// HKEY_LOCAL_MACHINE\SOFTWARE\QIV\QIV_START (64-bit view); elsewhere always nothing. Raises
// TIoError when the value exists but cannot be read as text.
std::optional<std::string> read_machine_servers();

}  // namespace qiv_start::platform
