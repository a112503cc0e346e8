#include "platform/disk.h"

#include "platform/win32/wide.h"

namespace qiv_start::platform {

std::optional<std::uint64_t> free_disk_space(const std::string& folder) {
    // The first figure is what the caller may use, the quota taken off.
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(win32::to_wide(folder).c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return available.QuadPart;
}

// The root of the volume, such as C:\ or the folder where another volume is mounted.
std::string disk_of(const std::string& folder) {
    wchar_t root[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(win32::to_wide(folder).c_str(), root, MAX_PATH + 1))
        return {};
    return win32::from_wide(root);
}

}  // namespace qiv_start::platform
