#include "core/download/disk_budget.h"

#include <algorithm>
#include <limits>

#include "platform/disk.h"

namespace qiv_start::core {
namespace {

// What a download reserves at a time: the disk is looked at once per step of each download,
// and the reservations of the downloads under way at once (96 over HTTP/2) keep only that much
// each from the others.
constexpr std::uint64_t kRoomStep = 1024 * 1024;

}  // namespace

TDiskBudget& TDiskBudget::system() {
    static TDiskBudget budget(TDisks{&platform::free_disk_space, &platform::disk_of});
    return budget;
}

// The free space is asked under the lock, so that two downloads cannot both count on it.
std::uint64_t TDiskBudget::reserve(const std::string& disk, const std::string& folder,
                                   std::uint64_t needed, std::uint64_t wanted,
                                   std::uint64_t margin) {
    std::lock_guard lock(mutex_);
    std::uint64_t& reserved = reserved_[disk];
    const std::uint64_t free =
        disks_.free_space(folder).value_or(std::numeric_limits<std::uint64_t>::max());
    const std::uint64_t kept =
        margin + std::min(reserved, std::numeric_limits<std::uint64_t>::max() - margin);
    const std::uint64_t usable = free > kept ? free - kept : 0;
    if (usable < needed)
        return 0;
    const std::uint64_t granted = std::min(usable, std::max(needed, wanted));
    reserved += granted;
    return granted;
}

void TDiskBudget::release(const std::string& disk, std::uint64_t size) {
    std::lock_guard lock(mutex_);
    std::uint64_t& reserved = reserved_[disk];
    reserved -= std::min(reserved, size);
}

bool TDiskRoom::take(std::size_t size) {
    if (size <= held_)
        return true;
    const std::uint64_t needed = size - held_;
    const std::uint64_t more =
        budget_.reserve(disk_, folder_, needed, std::max(needed, kRoomStep), margin_);
    held_ += more;
    return more > 0;
}

void TDiskRoom::written(std::size_t size) {
    const std::uint64_t done = std::min<std::uint64_t>(size, held_);
    held_ -= done;
    budget_.release(disk_, done);
}

void TDiskRoom::give_back() {
    budget_.release(disk_, std::exchange(held_, 0));
}

}  // namespace qiv_start::core
