// Workstations other than Windows have no administrator's registry: the default server and the
// list that the repository sends are all there is, and the administrator's consent to shared
// folders comes with the environment that the system gives every user.
#include "platform/machine_settings.h"

#include <cstdlib>
#include <string_view>

namespace qiv_start::platform {

std::optional<std::string> read_machine_servers() {
    return std::nullopt;
}

std::optional<std::uint64_t> read_machine_release_serial() {
    return std::nullopt;
}

bool shared_folder_allowed() {
    const char* value = std::getenv("QIV_START_SHARED_FOLDER");
    return value != nullptr && std::string_view(value) == "1";
}

}  // namespace qiv_start::platform
