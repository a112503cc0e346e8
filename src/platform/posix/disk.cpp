#include "platform/disk.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace qiv_start::platform {

std::optional<std::uint64_t> free_disk_space(const std::string& folder) {
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0)
        return std::nullopt;
    // f_bavail leaves out the blocks reserved for the superuser.
    return static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
}

std::string disk_of(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return {};
    return std::to_string(status.st_dev);
}

}  // namespace qiv_start::platform
