// What each backend gives the file layer's common part; not for use outside src/platform.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::platform::backend {

// True when something has this name, a link that leads nowhere included.
bool entry_exists(const std::string& path);

// The absolute path of what exists at path, with every link on it followed; nothing when a link
// cannot be followed.
std::optional<std::string> final_path(const std::string& path);

}  // namespace qiv_start::platform::backend
