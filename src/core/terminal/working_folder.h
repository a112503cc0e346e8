// The check that every launcher makes of its working folder before it uses it: a folder that
// another ordinary user may change is used for no download, self-update or start.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::core {

// Why the working folder (the current one), its settings or its logs may be changed by someone
// other than the user, the system and its administrators, for the run log; nothing when they
// may not, or when the administrator allows shared folders. A folder that cannot be examined
// counts as changeable, with the system's reason.
std::optional<std::string> foreign_working_folder();

}  // namespace qiv_start::core
