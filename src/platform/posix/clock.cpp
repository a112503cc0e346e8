#include "platform/clock.h"

#include <sys/time.h>

#include <ctime>

namespace qiv_start::platform {

TLocalTime local_time_now() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm parts{};
    ::localtime_r(&now.tv_sec, &parts);
    return {parts.tm_year + 1900,
            parts.tm_mon + 1,
            parts.tm_mday,
            parts.tm_hour,
            parts.tm_min,
            parts.tm_sec,
            static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace qiv_start::platform
