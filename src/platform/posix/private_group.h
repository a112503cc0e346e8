// Shared by the POSIX backend's checks of who may write a file or folder.
#pragma once

#include <sys/types.h>

namespace qiv_start::platform::posix {

// The user's private group: named after the user, the user's primary group, and no one else a
// listed member. Anything less certain counts as shared.
bool is_private_group(gid_t group_id);

}  // namespace qiv_start::platform::posix
