// Workstations other than Windows have no administrator's registry: the default server and the
// list that the repository sends are all there is.
#include "platform/machine_settings.h"

namespace qiv_start::platform {

std::optional<std::string> read_machine_servers() {
    return std::nullopt;
}

std::optional<std::uint64_t> read_machine_release_serial() {
    return std::nullopt;
}

}  // namespace qiv_start::platform
