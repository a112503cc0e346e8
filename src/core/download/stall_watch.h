// The stall rule: what an attempt, or a connection that several attempts share, moves over the
// last window.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

namespace qiv_start::core {

// Judged only once a whole window has passed since the first sample. Samples older
// than the window are dropped but for the newest of them, which marks where the window starts;
// they are taken a twentieth of a window apart at most, so a fast transfer keeps few, and the
// window judged is at most that much longer.
class TStallWatch {
  public:
    TStallWatch(std::int64_t min_rate, std::chrono::milliseconds window)
        : window_(window), min_bytes_(min_rate * window.count() / 1000) {}

    // False when fewer than min_rate bytes a second, on average, have moved over the last
    // window; bytes is the total moved so far.
    bool moving(std::int64_t bytes);

  private:
    using TClock = std::chrono::steady_clock;
    static constexpr int kSamplesPerWindow = 20;

    std::chrono::milliseconds window_;
    std::int64_t min_bytes_;
    std::deque<std::pair<TClock::time_point, std::int64_t>> samples_;
    TClock::time_point start_;
};

// What the transfers over one multiplexed connection move together: one of them that moves too
// little by itself is not stalled while the connection as a whole moves enough, and one that
// waits for its answer behind the others does not face a silent server while any of them
// receives bytes.
struct TLinkMeter {
    TLinkMeter(std::int64_t min_rate, std::chrono::milliseconds window) : watch(min_rate, window) {}

    std::int64_t moved = 0;
    TStallWatch watch;
    std::chrono::steady_clock::time_point last_received{};
};

}  // namespace qiv_start::core
