// The room left on a disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qiv_start::platform {

// The bytes that this process may still write on the disk that holds the folder (the system's
// reserve and the user's quota taken off where the system keeps them); nothing when the system
// cannot tell.
std::optional<std::uint64_t> free_disk_space(const std::string& folder);

// A name of the disk that holds the folder, the same for every folder on it; empty when the
// system cannot tell.
std::string disk_of(const std::string& folder);

}  // namespace qiv_start::platform
