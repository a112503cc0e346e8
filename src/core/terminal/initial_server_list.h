// The first list of servers of a working folder.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::core {

// The text of config\servers.cfg for a folder that has none: the addresses that the
// administrator set for the workstation (separated by blanks, tabs or line breaks), one per line,
// each ended by CR LF, in their order; the default server when none are set.
std::string initial_server_list(const std::optional<std::string>& machine_servers,
                                const std::string& default_server);

}  // namespace qiv_start::core
