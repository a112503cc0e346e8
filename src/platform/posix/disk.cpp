#include "platform/disk.h"

#include <sys/statvfs.h>

namespace qiv_start::platform {

std::optional<std::uint64_t> free_disk_space(const std::string& folder) {
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0)
        return std::nullopt;
    // f_bavail leaves out the blocks reserved for the superuser.
    return static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
}

}  // namespace qiv_start::platform
