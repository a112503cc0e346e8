// The wall clock.
#pragma once

namespace qiv_start::platform {

struct TLocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

TLocalTime local_time_now();

}  // namespace qiv_start::platform
