// The first list of servers of a working folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qiv_start::core {

// The text of config\servers.cfg for a folder that has none: the addresses that the
// administrator set for the workstation (separated by blanks, tabs or line breaks), one per line,
// each ended by CR LF, in their order; the default server when none are set.
std::string initial_server_list(const std::optional<std::string>& machine_servers,
                                const std::string& default_server);

// True when the line is a server's address with its scheme: http:// or https://, in any letter
// case. Without one the HTTP library would guess plain HTTP.
bool is_server_address(std::string_view line);

}  // namespace qiv_start::core
