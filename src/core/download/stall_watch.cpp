#include "core/download/stall_watch.h"

namespace qiv_start::core {

bool TStallWatch::moving(std::int64_t bytes) {
    const TClock::time_point now = TClock::now();
    if (samples_.empty())
        start_ = now;
    if (samples_.empty() || now - samples_.back().first >= window_ / kSamplesPerWindow)
        samples_.push_back({now, bytes});
    while (samples_.size() >= 2 && samples_[1].first <= now - window_)
        samples_.pop_front();
    if (now - start_ < window_ || samples_.front().first > now - window_)
        return true;
    return bytes - samples_.front().second >= min_bytes_;
}

}  // namespace qiv_start::core
