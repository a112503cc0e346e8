// The room that the downloads of the process may take on each disk, so that the ones writing at
// once leave the margin free together, not each for itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace qiv_start::core {

// Every download reserves what it is about to write from its disk's budget and gives back what
// it did not write; a reservation is granted only when the disk's free space, less every
// reservation outstanding on it, still leaves the margin. Thread-safe.
class TDiskBudget {
  public:
    // What the budget learns of the disks: a folder's free bytes (nothing when the system cannot
    // tell) and a name of its disk, the same for every folder on it.
    struct TDisks {
        std::function<std::optional<std::uint64_t>(const std::string& folder)> free_space;
        std::function<std::string(const std::string& folder)> disk_of;
    };

    explicit TDiskBudget(TDisks disks) : disks_(std::move(disks)) {}
    TDiskBudget(const TDiskBudget&) = delete;
    TDiskBudget& operator=(const TDiskBudget&) = delete;

    // The process's own, on the system's disks.
    static TDiskBudget& system();

    std::string disk_of(const std::string& folder) const { return disks_.disk_of(folder); }
    // Up to `wanted` bytes on the disk of the folder, at least `needed`: what it reserved, 0
    // when not even `needed` leaves the margin. A disk that cannot tell its free space is not
    // held to the margin.
    std::uint64_t reserve(const std::string& disk, const std::string& folder, std::uint64_t needed,
                          std::uint64_t wanted, std::uint64_t margin);
    // Bytes reserved that are no longer wanted, or that have been written and so show in the
    // disk's free space.
    void release(const std::string& disk, std::uint64_t size);

  private:
    TDisks disks_;
    std::mutex mutex_;
    std::map<std::string, std::uint64_t> reserved_;  // outstanding, by disk
};

// One download's reservation: what it may still write before it asks the budget again. Given
// back when the download is finished, fails or goes.
class TDiskRoom {
  public:
    TDiskRoom(TDiskBudget& budget, const std::string& folder, std::uint64_t margin)
        : budget_(budget), folder_(folder), disk_(budget.disk_of(folder)), margin_(margin) {}
    ~TDiskRoom() { give_back(); }
    TDiskRoom(const TDiskRoom&) = delete;
    TDiskRoom& operator=(const TDiskRoom&) = delete;

    // Whether size bytes more may be written.
    bool take(std::size_t size);
    // The size bytes that take allowed are on the disk now.
    void written(std::size_t size);
    void give_back();

  private:
    TDiskBudget& budget_;
    std::string folder_;
    std::string disk_;
    std::uint64_t margin_;
    std::uint64_t held_ = 0;
};

}  // namespace qiv_start::core
