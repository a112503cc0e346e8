// The workstation's own network addresses.
#pragma once

#include <string>
#include <vector>

namespace qiv_start::platform {

// The IPv4 addresses that the workstation's host name resolves to, in resolver order, as dotted
// quads; empty when the name cannot be read or resolved.
std::vector<std::string> local_ipv4_addresses();

// The workstation's host name; empty when it cannot be read.
std::string host_name();

}  // namespace qiv_start::platform
